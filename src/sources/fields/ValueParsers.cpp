#include "sources/fields/ValueParsers.h"

#include "model/TimeText.h"

#include <cmath>
#include <fast_float/fast_float.h>

namespace korvo {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

} // namespace

std::optional<Instant> instantFromSeconds(double seconds) {
    // An Instant counts nanoseconds in 64 bits: about 292 years either side of 1970.
    constexpr double kLimit = 9.0e9;
    if (!std::isfinite(seconds) || seconds > kLimit || seconds < -kLimit) {
        return std::nullopt;
    }
    const double whole = std::floor(seconds);
    const auto nanos =
        static_cast<long long>(whole) * 1'000'000'000LL + std::llround((seconds - whole) * 1e9);
    return Instant{std::chrono::nanoseconds{nanos}};
}

std::optional<double> parseNumberText(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            return std::nullopt;
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // fast_float rather than std::from_chars: the same grammar and rounding, and it exists for
    // doubles in every C++ library (Apple's has no floating-point from_chars).
    double value = 0;
    const auto [end, error] = fast_float::from_chars(text.data(), text.data() + text.size(), value,
                                                     fast_float::chars_format::general);
    // Infinity and NaN would make the snapshot impossible to encode; they are no numbers here.
    // An overflowing literal reads as infinity and goes the same way.
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseNumber(const JsonValue& value) {
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return static_cast<double>(value.get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64:
        return static_cast<double>(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE: {
        const double number = value.get_double().value_unsafe();
        return std::isfinite(number) ? std::optional<double>(number) : std::nullopt;
    }
    case simdjson::dom::element_type::STRING:
        return parseNumberText(value.get_string().value_unsafe());
    default:
        return std::nullopt;
    }
}

std::optional<double> parseNumber(const JsonLookup& value) {
    if (value.error()) {
        return std::nullopt;
    }
    return parseNumber(value.value_unsafe());
}

std::optional<std::string> parseText(const JsonValue& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    const std::string_view text = trimmed(value.get_string().value_unsafe());
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<std::string> parseText(const JsonLookup& value) {
    if (value.error()) {
        return std::nullopt;
    }
    return parseText(value.value_unsafe());
}

std::optional<Instant> instantFromEpochNumber(double number) {
    if (number > 1e17) {
        return instantFromSeconds(number / 1'000'000'000.0);
    }
    if (number > 1e14) {
        return instantFromSeconds(number / 1'000'000.0);
    }
    if (number > 1e10) {
        return instantFromSeconds(number / 1'000.0);
    }
    return instantFromSeconds(number);
}

std::optional<Instant> parseDate(const JsonValue& value) {
    if (const auto number = parseNumber(value)) {
        return instantFromEpochNumber(*number);
    }
    if (!value.is_string()) {
        return std::nullopt;
    }
    const std::string_view text = trimmed(value.get_string().value_unsafe());
    if (text.empty()) {
        return std::nullopt;
    }
    return parseInternetDateTime(text);
}

std::optional<Instant> parseDate(const JsonLookup& value) {
    if (value.error()) {
        return std::nullopt;
    }
    return parseDate(value.value_unsafe());
}

std::optional<ProviderStatus> parseStatusText(const JsonValue& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    const std::string_view raw = trimmed(value.get_string().value_unsafe());
    if (raw.empty()) {
        return std::nullopt;
    }
    std::string text(raw);
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    if (contains(text, "limited") || contains(text, "exhausted")) {
        return ProviderStatus::limited;
    }
    if (contains(text, "critical")) {
        return ProviderStatus::critical;
    }
    if (contains(text, "warning") || contains(text, "warn")) {
        return ProviderStatus::warning;
    }
    if (contains(text, "offline")) {
        return ProviderStatus::offline;
    }
    if (contains(text, "stale")) {
        return ProviderStatus::stale;
    }
    if (contains(text, "ok") || contains(text, "ready") || contains(text, "active")) {
        return ProviderStatus::ok;
    }
    return std::nullopt;
}

std::optional<ProviderStatus> parseStatusText(const JsonLookup& value) {
    if (value.error()) {
        return std::nullopt;
    }
    return parseStatusText(value.value_unsafe());
}

} // namespace korvo
