#include "model/DisplayText.h"

#include "model/TimeText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace korvo {
namespace {

// 100 - x, clamped to 0...100, as a whole percent.
std::string complementPercentText(double value) {
    return wholePercentText(std::clamp(100.0 - value, 0.0, 100.0));
}

} // namespace

std::optional<double> finiteValue(const std::optional<double>& value) {
    if (value && std::isfinite(*value)) {
        return value;
    }
    return std::nullopt;
}

std::string sourceLabel(SourceType source) {
    switch (source) {
    case SourceType::korvoConnector:
        return "Korvo Connector";
    case SourceType::officialApi:
        return "Official API";
    case SourceType::officialOauth:
        return "Official OAuth";
    case SourceType::localCli:
        return "Local CLI";
    case SourceType::manual:
        return "Manual";
    case SourceType::demo:
        return "Demo";
    case SourceType::unknown:
        return "Unknown";
    }
    return "Unknown";
}

std::string confidenceLabel(Confidence confidence) {
    switch (confidence) {
    case Confidence::official:
        return "Official";
    case Confidence::cliReported:
        return "CLI reported";
    case Confidence::connectorReported:
        return "Connector reported";
    case Confidence::inferred:
        return "Inferred";
    case Confidence::estimated:
        return "Estimated";
    case Confidence::manual:
        return "Manual";
    case Confidence::demo:
        return "Demo";
    case Confidence::unknown:
        return "Unknown";
    }
    return "Unknown";
}

std::string buildChannelLabel(KorvoBuildChannel channel) {
    switch (channel) {
    case KorvoBuildChannel::development:
        return "Development";
    case KorvoBuildChannel::internalBeta:
        return "Internal Beta";
    case KorvoBuildChannel::publicBeta:
        return "Public Beta";
    case KorvoBuildChannel::release:
        return "Release";
    }
    return "Release";
}

std::string capitalizedFirstLetter(std::string_view text) {
    std::string result(text);
    if (!result.empty() && result[0] >= 'a' && result[0] <= 'z') {
        result[0] = char(result[0] - 'a' + 'A');
    }
    return result;
}

std::string providerStatusLabel(ProviderStatus status) {
    return capitalizedFirstLetter(rawValue(status));
}

std::string windowKindLabel(UsageWindowKind kind) {
    return capitalizedFirstLetter(rawValue(kind));
}

std::string primaryRemainingText(const ProviderUsage& row) {
    if (const auto remaining = finiteValue(row.usage.remainingPercent)) {
        return wholePercentText(*remaining);
    }
    if (const auto used = finiteValue(row.usage.usedPercent)) {
        return complementPercentText(*used);
    }
    if (row.usage.remainingText) {
        return *row.usage.remainingText;
    }
    return std::string(limitUnavailableText);
}

std::string primaryUsedText(const ProviderUsage& row) {
    if (const auto used = finiteValue(row.usage.usedPercent)) {
        return wholePercentText(*used);
    }
    if (const auto remaining = finiteValue(row.usage.remainingPercent)) {
        return complementPercentText(*remaining);
    }
    return std::string(limitUnavailableText);
}

std::string primaryWindowText(const ProviderUsage& row) {
    if (!row.window) {
        return "Unknown";
    }
    if (row.window->label && !row.window->label->empty()) {
        return *row.window->label;
    }
    return windowKindLabel(row.window->kind);
}

std::string resetText(const ProviderUsage& row, Instant now, std::chrono::seconds utcOffset) {
    if (row.window && row.window->resetAt) {
        return resetPhrase(*row.window->resetAt, now, utcOffset);
    }
    return "unknown";
}

std::string resetText(const ProviderUsage& row, Instant now) {
    if (row.window && row.window->resetAt) {
        return resetText(row, now, localUtcOffset(*row.window->resetAt));
    }
    return "unknown";
}

std::optional<std::string> tokenDetailsText(const ProviderUsage& row) {
    std::string text;
    const auto append = [&text](const std::string& part) {
        if (!text.empty()) {
            text += " \u00B7 ";
        }
        text += part;
    };
    if (row.usage.inputTokens) {
        append("Input " + groupedNumberText(*row.usage.inputTokens));
    }
    if (row.usage.outputTokens) {
        append("Output " + groupedNumberText(*row.usage.outputTokens));
    }
    if (row.usage.cachedInputTokens) {
        append("Cached " + groupedNumberText(*row.usage.cachedInputTokens));
    }
    if (row.usage.costUsd) {
        // Two decimals; to_chars, unlike printf, ignores the process locale.
        std::array<char, 400> buffer{};
        const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                       *row.usage.costUsd, std::chars_format::fixed, 2)
                             .ptr;
        append("Cost $" + std::string(buffer.data(), end));
    }
    if (row.usage.remainingText) {
        for (const auto& [label, count] : tokenTextParts(*row.usage.remainingText)) {
            append(label + " " + groupedNumberText(count));
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

std::optional<double> usedPercentOf(const ProviderUsage& row) {
    if (const auto used = finiteValue(row.usage.usedPercent)) {
        return *used;
    }
    if (const auto remaining = finiteValue(row.usage.remainingPercent)) {
        return 100.0 - *remaining;
    }
    return std::nullopt;
}

std::optional<double> limitGaugeValue(const ProviderUsage& row) {
    std::optional<double> value;
    if (const auto remaining = finiteValue(row.usage.remainingPercent)) {
        value = *remaining;
    } else if (const auto used = finiteValue(row.usage.usedPercent)) {
        value = 100.0 - *used;
    }
    if (value) {
        value = std::clamp(*value, 0.0, 100.0);
    }
    return value;
}

namespace {

// `text` split at each " · ".
std::vector<std::string_view> middleDotParts(std::string_view text) {
    static constexpr std::string_view separator = " \u00B7 ";
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) {
            return parts;
        }
        start = at + separator.size();
    }
}

// A whole number of ASCII digits (at most 15 of them), or nothing.
std::optional<double> wholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 15 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    double value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
    }
    return value;
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// "<label> <r>% remaining": the label and r.
std::optional<std::pair<std::string_view, double>> remainingPart(std::string_view part) {
    static constexpr std::string_view suffix = "% remaining";
    if (!endsWith(part, suffix)) {
        return std::nullopt;
    }
    const std::string_view head = part.substr(0, part.size() - suffix.size());
    const std::size_t space = head.rfind(' ');
    if (space == std::string_view::npos || space == 0) {
        return std::nullopt;
    }
    const auto value = wholeNumber(head.substr(space + 1));
    if (!value || *value > 100) {
        return std::nullopt;
    }
    return std::pair(head.substr(0, space), *value);
}

} // namespace

std::optional<SecondWindow> parseSecondWindowText(std::string_view text) {
    const std::vector<std::string_view> parts = middleDotParts(text);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto remaining = remainingPart(parts[i]);
        if (!remaining || !endsWith(parts[i + 1], "% used")) {
            continue;
        }
        const auto used = wholeNumber(parts[i + 1].substr(0, parts[i + 1].size() - 6));
        if (!used || *used > 100) {
            continue;
        }
        SecondWindow window{std::string(remaining->first), remaining->second, *used, {}};
        static constexpr std::string_view resets = "resets ";
        if (i + 2 < parts.size() && parts[i + 2].substr(0, resets.size()) == resets) {
            window.resetAt = parseInternetDateTime(parts[i + 2].substr(resets.size()));
        }
        return window;
    }
    return std::nullopt;
}

std::optional<SecondWindow> secondWindow(const ProviderUsage& row) {
    if (!row.usage.remainingText) {
        return std::nullopt;
    }
    return parseSecondWindowText(*row.usage.remainingText);
}

std::string secondWindowName(const SecondWindow& window) {
    if (window.label == "7d") {
        return "7-day";
    }
    return window.label;
}

ProviderStatus statusForRemaining(double remainingPercent) {
    if (remainingPercent <= 0) {
        return ProviderStatus::limited;
    }
    if (remainingPercent <= 5) {
        return ProviderStatus::critical;
    }
    if (remainingPercent <= 20) {
        return ProviderStatus::warning;
    }
    return ProviderStatus::ok;
}

ProviderStatus rowStatus(const ProviderUsage& row) {
    const auto second = secondWindow(row);
    const bool graded = row.status == ProviderStatus::ok || row.status == ProviderStatus::warning ||
                        row.status == ProviderStatus::critical;
    if (!second || !graded) {
        return row.status;
    }
    // ok, warning, critical and limited are declared from the least to the most urgent.
    return std::max(row.status, statusForRemaining(second->remainingPercent));
}

std::vector<std::pair<std::string, double>> tokenTextParts(std::string_view text) {
    std::vector<std::pair<std::string, double>> result;
    static constexpr std::string_view suffix = " tokens";
    for (const std::string_view part : middleDotParts(text)) {
        if (!endsWith(part, suffix)) {
            return {};
        }
        const std::string_view head = part.substr(0, part.size() - suffix.size());
        const std::size_t space = head.rfind(' ');
        const auto count =
            space == std::string_view::npos ? std::nullopt : wholeNumber(head.substr(space + 1));
        if (!count || space == 0) {
            return {};
        }
        result.emplace_back(std::string(head.substr(0, space)), *count);
    }
    return result;
}

UsageFigure usageFigure(const ProviderUsage& row) {
    if (limitGaugeValue(row) || finiteValue(row.usage.remainingPercent) ||
        finiteValue(row.usage.usedPercent)) {
        return {primaryRemainingText(row), "remaining", true};
    }
    std::optional<double> tokens;
    const auto add = [&tokens](double value) {
        if (std::isfinite(value)) {
            tokens = tokens.value_or(0) + value;
        }
    };
    if (row.usage.inputTokens) {
        add(*row.usage.inputTokens);
    }
    if (row.usage.outputTokens) {
        add(*row.usage.outputTokens);
    }
    const auto parts = row.usage.remainingText ? tokenTextParts(*row.usage.remainingText)
                                               : std::vector<std::pair<std::string, double>>{};
    for (const auto& part : parts) {
        add(part.second);
    }
    if (tokens) {
        const std::string count = groupedNumberText(*tokens);
        return {count + (count == "1" ? " token" : " tokens"), "used this session", false};
    }
    if (row.usage.remainingText && !secondWindow(row)) {
        return {*row.usage.remainingText, "", false};
    }
    if (const auto second = secondWindow(row)) {
        return {wholePercentText(second->remainingPercent),
                secondWindowName(*second) + " remaining", true};
    }
    return {std::string(limitUnavailableText), "", false};
}

std::optional<LowestRemaining> lowestRemaining(const ProviderUsage& row) {
    std::optional<LowestRemaining> lowest;
    if (const auto first = limitGaugeValue(row)) {
        lowest = LowestRemaining{*first, ""};
    }
    if (const auto second = secondWindow(row)) {
        if (!lowest || second->remainingPercent < lowest->percent) {
            lowest = LowestRemaining{second->remainingPercent, secondWindowName(*second)};
        }
    }
    return lowest;
}

} // namespace korvo
