#include "sources/fields/FieldExtraction.h"

#include "sources/io/FileReaders.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace korvo {

namespace {

enum class Field {
    usedPercent,
    remainingPercent,
    inputTokens,
    outputTokens,
    cacheCount,
    cachedInputTokens,
    costUsd,
    remainingText,
    windowLabel,
    status,
    observedAt,
};

struct KeyRule {
    std::string_view key;
    Field field;
};

// Normalized keys of every rule in rule order, except the reset rule, which takes any key
// containing "reset".
constexpr std::array<KeyRule, 39> kKeyRules{{
    {"usedpercent", Field::usedPercent},
    {"usagepercent", Field::usedPercent},
    {"usagepercentage", Field::usedPercent},
    {"percentused", Field::usedPercent},
    {"limitusedpercent", Field::usedPercent},
    {"remainingpercent", Field::remainingPercent},
    {"remainingpercentage", Field::remainingPercent},
    {"percentremaining", Field::remainingPercent},
    {"limitremainingpercent", Field::remainingPercent},
    {"inputtokens", Field::inputTokens},
    {"prompttokens", Field::inputTokens},
    {"totalinputtokens", Field::inputTokens},
    {"outputtokens", Field::outputTokens},
    {"completiontokens", Field::outputTokens},
    {"totaloutputtokens", Field::outputTokens},
    {"cachecreationinputtokens", Field::cacheCount},
    {"cachereadinputtokens", Field::cacheCount},
    {"cachedinputtokens", Field::cachedInputTokens},
    {"cacheinputtokens", Field::cachedInputTokens},
    {"cachedtokens", Field::cachedInputTokens},
    {"costusd", Field::costUsd},
    {"totalcostusd", Field::costUsd},
    {"usd", Field::costUsd},
    {"cost", Field::costUsd},
    {"remainingtext", Field::remainingText},
    {"remaining", Field::remainingText},
    {"ratelimitremaining", Field::remainingText},
    {"limitremaining", Field::remainingText},
    {"window", Field::windowLabel},
    {"windowlabel", Field::windowLabel},
    {"period", Field::windowLabel},
    {"limitwindow", Field::windowLabel},
    {"status", Field::status},
    {"state", Field::status},
    {"ratelimitstatus", Field::status},
    {"observedat", Field::observedAt},
    {"updatedat", Field::observedAt},
    {"timestamp", Field::observedAt},
    {"time", Field::observedAt},
}};

// Fields that alone make a candidate useful (see SanitizedUsageCandidate::hasUsefulData): a
// window label or a time never does.
constexpr bool makesUseful(Field field) {
    return field != Field::windowLabel && field != Field::observedAt;
}

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

void normalizeInto(std::string_view key, std::string& out) {
    out.clear();
    for (const char raw : key) {
        char c = raw;
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (isAsciiAlnum(c) || static_cast<unsigned char>(c) >= 0x80) {
            out.push_back(c);
        }
    }
}

template <typename T, typename Convert>
void fillIfAbsent(std::optional<T>& field, const JsonValue& value, Convert convert) {
    if (!field) {
        if (auto converted = convert(value)) {
            field = std::move(converted);
        }
    }
}

constexpr std::size_t kLongestRuleKey = [] {
    std::size_t longest = 0;
    for (const KeyRule& rule : kKeyRules) {
        longest = std::max(longest, rule.key.size());
    }
    return longest;
}();

// For each key length, the first and the last letters of the rules' keys of that length: bit n
// stands for 'a' + n. Most keys a log holds are told apart from every rule by these alone.
struct LetterMasks {
    std::array<std::uint32_t, kLongestRuleKey + 1> first{};
    std::array<std::uint32_t, kLongestRuleKey + 1> last{};

    bool mayMatch(std::string_view key) const {
        if (key.empty() || key.size() > kLongestRuleKey) {
            return false;
        }
        const unsigned front = static_cast<unsigned char>(key.front()) - unsigned{'a'};
        const unsigned back = static_cast<unsigned char>(key.back()) - unsigned{'a'};
        return front < 26 && back < 26 && ((first[key.size()] >> front) & 1U) != 0 &&
               ((last[key.size()] >> back) & 1U) != 0;
    }
};

constexpr std::string_view kResetWord = "reset";

constexpr LetterMasks letterMasks(bool usefulOnly) {
    LetterMasks masks;
    for (const KeyRule& rule : kKeyRules) {
        const char front = rule.key.empty() ? '\0' : rule.key.front();
        const char back = rule.key.empty() ? '\0' : rule.key.back();
        if (front < 'a' || front > 'z' || back < 'a' || back > 'z') {
            throw "every rule key starts and ends with a lower-case letter";
        }
        // keyCanMakeUseful leaves out the rules that make nothing useful, and then looks for the
        // reset word, which must therefore be in no rule's key.
        if (rule.key.find(kResetWord) != std::string_view::npos) {
            throw "no rule key holds the reset word";
        }
        if (!usefulOnly || makesUseful(rule.field)) {
            masks.first[rule.key.size()] |= std::uint32_t{1} << (front - 'a');
            masks.last[rule.key.size()] |= std::uint32_t{1} << (back - 'a');
        }
    }
    return masks;
}

std::optional<Field> fieldForKey(std::string_view key) {
    static constexpr LetterMasks kAnyRule = letterMasks(false);
    if (!kAnyRule.mayMatch(key)) {
        return std::nullopt;
    }
    for (const KeyRule& rule : kKeyRules) {
        // Length and first letter tell most keys apart before any comparison of bytes.
        if (rule.key.size() == key.size() && rule.key.front() == key.front() && rule.key == key) {
            return rule.field;
        }
    }
    return std::nullopt;
}

void walk(const JsonValue& value, std::string_view key, bool hasKey,
          SanitizedUsageCandidate& candidate, std::string& scratch) {
    switch (value.type()) {
    case simdjson::dom::element_type::OBJECT: {
        const simdjson::dom::object object(value);
        for (const auto field : object) {
            walk(field.value, field.key, true, candidate, scratch);
        }
        return;
    }
    case simdjson::dom::element_type::ARRAY: {
        const simdjson::dom::array array(value);
        for (const auto element : array) {
            walk(element, key, hasKey, candidate, scratch);
        }
        return;
    }
    default:
        if (hasKey) {
            normalizeInto(key, scratch);
            applyField(scratch, value, candidate);
        }
        return;
    }
}

} // namespace

std::string normalizeKey(std::string_view key) {
    std::string out;
    out.reserve(key.size());
    normalizeInto(key, out);
    return out;
}

bool keyCanMakeUseful(std::string_view normalizedKey) {
    static constexpr LetterMasks kUsefulRule = letterMasks(true);
    if (kUsefulRule.mayMatch(normalizedKey)) {
        if (const std::optional<Field> field = fieldForKey(normalizedKey)) {
            return makesUseful(*field);
        }
    }
    // The reset rule fills resetAt, which makes a candidate useful.
    return normalizedKey.size() >= kResetWord.size() &&
           normalizedKey.find(kResetWord) != std::string_view::npos;
}

void applyField(std::string_view key, const JsonValue& value, SanitizedUsageCandidate& candidate) {
    const auto number = [](const JsonValue& v) { return parseNumber(v); };
    const auto text = [](const JsonValue& v) { return parseText(v); };
    const auto date = [](const JsonValue& v) { return parseDate(v); };

    const std::optional<Field> field = fieldForKey(key);
    if (!field) {
        if (key.find(kResetWord) != std::string_view::npos) {
            fillIfAbsent(candidate.resetAt, value, date);
        }
        return;
    }
    switch (*field) {
    case Field::usedPercent:
        fillIfAbsent(candidate.usedPercent, value, number);
        break;
    case Field::remainingPercent:
        fillIfAbsent(candidate.remainingPercent, value, number);
        break;
    case Field::inputTokens:
        fillIfAbsent(candidate.inputTokens, value, number);
        break;
    case Field::outputTokens:
        fillIfAbsent(candidate.outputTokens, value, number);
        break;
    case Field::cacheCount:
        if (const auto count = parseNumber(value)) {
            candidate.cachedInputTokens = candidate.cachedInputTokens.value_or(0) + *count;
        }
        break;
    case Field::cachedInputTokens:
        fillIfAbsent(candidate.cachedInputTokens, value, number);
        break;
    case Field::costUsd:
        fillIfAbsent(candidate.costUsd, value, number);
        break;
    case Field::remainingText:
        fillIfAbsent(candidate.remainingText, value, text);
        break;
    case Field::windowLabel:
        fillIfAbsent(candidate.windowLabel, value, text);
        break;
    case Field::status:
        fillIfAbsent(candidate.status, value,
                     [](const JsonValue& v) { return parseStatusText(v); });
        break;
    case Field::observedAt:
        fillIfAbsent(candidate.observedAt, value, date);
        break;
    }
}

void collectCandidate(const JsonValue& value, std::string_view key,
                      SanitizedUsageCandidate& candidate) {
    std::string scratch;
    walk(value, key, !key.empty(), candidate, scratch);
}

std::optional<SanitizedUsageCandidate> candidateFromDocument(const JsonValue& document) {
    SanitizedUsageCandidate candidate;
    std::string scratch;
    walk(document, {}, false, candidate, scratch);
    if (!candidate.hasUsefulData()) {
        return std::nullopt;
    }
    return candidate;
}

std::optional<SanitizedUsageCandidate> parseJSONCandidate(simdjson::dom::parser& parser,
                                                          std::string_view paddedBytes) {
    JsonValue document;
    if (parser.parse(paddedBytes.data(), paddedBytes.size(), false).get(document)) {
        return std::nullopt;
    }
    return candidateFromDocument(document);
}

std::optional<SanitizedUsageCandidate> parseJSONCandidate(std::string_view bytes) {
    simdjson::dom::parser parser;
    JsonValue document;
    if (parser.parse(bytes.data(), bytes.size(), true).get(document)) {
        return std::nullopt;
    }
    return candidateFromDocument(document);
}

std::optional<JsonValue> firstMember(const simdjson::dom::object& object,
                                     std::span<const std::string_view> keys) {
    for (const std::string_view key : keys) {
        JsonValue value;
        if (!object.at_key(key).get(value)) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<simdjson::dom::object> firstObjectMember(const simdjson::dom::object& object,
                                                       std::span<const std::string_view> keys) {
    for (const std::string_view key : keys) {
        if (auto member = objectMember(object, key)) {
            return member;
        }
    }
    return std::nullopt;
}

std::optional<simdjson::dom::object> objectMember(const simdjson::dom::object& object,
                                                  std::string_view key) {
    simdjson::dom::object member;
    if (object.at_key(key).get(member)) {
        return std::nullopt;
    }
    return member;
}

std::optional<double> numberMember(const simdjson::dom::object& object,
                                   std::span<const std::string_view> keys) {
    const auto member = firstMember(object, keys);
    return member ? parseNumber(*member) : std::nullopt;
}

std::optional<Instant> dateMember(const simdjson::dom::object& object,
                                  std::span<const std::string_view> keys) {
    const auto member = firstMember(object, keys);
    return member ? parseDate(*member) : std::nullopt;
}

} // namespace korvo
