#include "sources/otel/OTelAttributes.h"

#include "sources/otel/OTelMetricReader.h"

#include <utility>

namespace korvo {

using namespace otel;

namespace {

// Keys compared as normalizeKey writes them: ASCII letters lower-cased, other ASCII bytes that
// are not digits dropped, other bytes kept.
bool keptInKey(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool sameNormalizedKey(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (true) {
        while (i < a.size() && !keptInKey(a[i])) {
            ++i;
        }
        while (j < b.size() && !keptInKey(b[j])) {
            ++j;
        }
        if (i == a.size() || j == b.size()) {
            return i == a.size() && j == b.size();
        }
        if (lowerAscii(a[i]) != lowerAscii(b[j])) {
            return false;
        }
        ++i;
        ++j;
    }
}

// The first value that `convert` reads under an exact key of `keys`, else under the first
// attribute (in key order) whose normalized key equals a normalized search key.
template <typename Convert>
auto firstForKeys(const OTelAttributes& attributes, std::span<const std::string_view> keys,
                  const Convert& convert) -> decltype(convert(std::declval<element>())) {
    if (attributes.empty()) {
        return std::nullopt;
    }
    for (std::string_view key : keys) {
        if (const Found* value = attributes.find(key); value && *value) {
            if (auto converted = convert(**value)) {
                return converted;
            }
        }
    }
    for (const auto& [key, value] : attributes.effective()) {
        if (!value) {
            continue;
        }
        for (std::string_view search : keys) {
            if (sameNormalizedKey(key, search)) {
                if (auto converted = convert(*value)) {
                    return converted;
                }
                break;
            }
        }
    }
    return std::nullopt;
}

} // namespace

void parseOTelAttributes(const Found& value, OTelAttributes& attributes) {
    if (!value) {
        return;
    }
    if (const auto obj = asObject(value)) {
        for (auto field : *obj) {
            attributes.set(field.key, unwrapTypedValue(field.value));
        }
        return;
    }
    const auto list = asArray(value);
    if (!list) {
        return;
    }
    for (element item : *list) {
        const auto entry = asObject(item);
        if (!entry) {
            continue;
        }
        Members<3> members; // "key", "name", "value"
        for (auto field : *entry) {
            const std::string_view key = field.key;
            members.keepFirst(key == "key"     ? 0
                              : key == "name"  ? 1
                              : key == "value" ? 2
                                               : -1,
                              field.value);
        }
        const Found keyValue = members[0] ? members[0] : members[1];
        if (!keyValue || keyValue->type() != element_type::STRING) {
            continue;
        }
        const std::string_view key = trimmedView(keyValue->get_string().value_unsafe());
        if (!key.empty()) {
            attributes.set(key, unwrapTypedValue(members[2]));
        }
    }
}

std::optional<std::string_view> textForKeys(const OTelAttributes& attributes,
                                            std::span<const std::string_view> keys) {
    return firstForKeys(attributes, keys, [](element value) { return textOf(value); });
}

std::optional<Instant> dateForKeys(const OTelAttributes& attributes,
                                   std::span<const std::string_view> keys) {
    return firstForKeys(attributes, keys, [](element value) { return parseOTelDate(value); });
}

} // namespace korvo
