#include "model/DisplayText.h"

#include "model/TimeText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

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

std::string resetText(const ProviderUsage& row, Instant now) {
    if (row.window && row.window->resetAt) {
        return relativeTimePhrase(*row.window->resetAt, now);
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
        append("Input " + wholeNumberText(*row.usage.inputTokens));
    }
    if (row.usage.outputTokens) {
        append("Output " + wholeNumberText(*row.usage.outputTokens));
    }
    if (row.usage.cachedInputTokens) {
        append("Cached " + wholeNumberText(*row.usage.cachedInputTokens));
    }
    if (row.usage.costUsd) {
        // Two decimals; to_chars, unlike printf, ignores the process locale.
        std::array<char, 400> buffer{};
        const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                       *row.usage.costUsd, std::chars_format::fixed, 2)
                             .ptr;
        append("Cost $" + std::string(buffer.data(), end));
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
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

} // namespace korvo
