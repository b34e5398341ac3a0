#include "model/SnapshotJson.h"

#include "model/TimeText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <simdjson.h>
#include <variant>

namespace korvo {
namespace {

// ---- Writing ---------------------------------------------------------------------------------

// A JSON value ready to be written: a scalar already in its literal form, an array, or an
// object whose members are sorted when written. A member is defined after Node: a std::pair
// holding a Node would need Node complete inside its own definition.
struct Node {
    struct Member;
    struct Array {
        std::vector<Node> items;
    };
    struct Object {
        std::vector<Member> members;
    };
    std::variant<std::string, Array, Object> value;
};

struct Node::Member {
    std::string name;
    Node value;
};

void writeIndent(std::string& out, int level) {
    out.append(std::size_t(level) * 2, ' ');
}

void write(std::string& out, const Node& node, int level) {
    if (const auto* literal = std::get_if<std::string>(&node.value)) {
        out += *literal;
    } else if (const auto* array = std::get_if<Node::Array>(&node.value)) {
        if (array->items.empty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        for (std::size_t i = 0; i < array->items.size(); ++i) {
            writeIndent(out, level + 1);
            write(out, array->items[i], level + 1);
            out += i + 1 < array->items.size() ? ",\n" : "\n";
        }
        writeIndent(out, level);
        out += "]";
    } else {
        const auto& object = std::get<Node::Object>(node.value);
        if (object.members.empty()) {
            out += "{}";
            return;
        }
        std::vector<const Node::Member*> sorted;
        for (const auto& member : object.members) {
            sorted.push_back(&member);
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto* a, const auto* b) { return a->name < b->name; });
        out += "{\n";
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            writeIndent(out, level + 1);
            out += jsonQuoted(sorted[i]->name);
            out += " : ";
            write(out, sorted[i]->value, level + 1);
            out += i + 1 < sorted.size() ? ",\n" : "\n";
        }
        writeIndent(out, level);
        out += "}";
    }
}

struct EncodeFailure {
    SnapshotEncodeError error;
};

class ObjectBuilder {
public:
    explicit ObjectBuilder(std::string path) : m_path(std::move(path)) {}

    void string(const std::string& key, std::string_view value) { add(key, jsonQuoted(value)); }
    void optionalString(const std::string& key, const std::optional<std::string>& value) {
        if (value) {
            string(key, *value);
        }
    }
    void number(const std::string& key, double value) {
        if (!std::isfinite(value)) {
            throw EncodeFailure{{memberPath(key), "number is not finite"}};
        }
        add(key, jsonNumber(value));
    }
    void optionalNumber(const std::string& key, const std::optional<double>& value) {
        if (value) {
            number(key, *value);
        }
    }
    void integer(const std::string& key, std::int64_t value) { add(key, std::to_string(value)); }
    void date(const std::string& key, Instant value) { string(key, formatInternetDateTime(value)); }
    void optionalDate(const std::string& key, const std::optional<Instant>& value) {
        if (value) {
            date(key, *value);
        }
    }
    void node(const std::string& key, Node value) {
        m_object.members.push_back({key, std::move(value)});
    }

    std::string memberPath(const std::string& key) const {
        return m_path.empty() ? key : m_path + "." + key;
    }
    Node build() { return Node{std::move(m_object)}; }

private:
    void add(const std::string& key, std::string literal) {
        m_object.members.push_back({key, Node{std::move(literal)}});
    }

    std::string m_path;
    Node::Object m_object;
};

Node encodeDevice(const SnapshotDevice& device, const std::string& path) {
    ObjectBuilder b(path);
    b.string("id", device.id);
    b.string("kind", rawValue(device.kind));
    b.string("name", device.name);
    return b.build();
}

Node encodeWindow(const UsageWindow& window, const std::string& path) {
    ObjectBuilder b(path);
    b.string("kind", rawValue(window.kind));
    b.optionalString("label", window.label);
    b.optionalDate("resetAt", window.resetAt);
    b.optionalDate("startedAt", window.startedAt);
    return b.build();
}

Node encodeMetrics(const UsageMetrics& usage, const std::string& path) {
    ObjectBuilder b(path);
    b.optionalNumber("cachedInputTokens", usage.cachedInputTokens);
    b.optionalNumber("costUsd", usage.costUsd);
    b.optionalNumber("inputTokens", usage.inputTokens);
    b.optionalNumber("outputTokens", usage.outputTokens);
    b.optionalNumber("remainingPercent", usage.remainingPercent);
    b.optionalString("remainingText", usage.remainingText);
    b.optionalNumber("usedPercent", usage.usedPercent);
    return b.build();
}

Node encodeProvider(const ProviderUsage& row, const std::string& path) {
    ObjectBuilder b(path);
    b.string("confidence", rawValue(row.confidence));
    b.string("displayName", row.displayName);
    b.string("id", row.id);
    b.date("observedAt", row.observedAt);
    b.string("source", rawValue(row.source));
    b.string("status", rawValue(row.status));
    b.node("usage", encodeMetrics(row.usage, b.memberPath("usage")));
    if (row.window) {
        b.node("window", encodeWindow(*row.window, b.memberPath("window")));
    }
    return b.build();
}

Node encodeSnapshotNode(const UsageSnapshot& snapshot) {
    ObjectBuilder b("");
    b.node("device", encodeDevice(snapshot.device, "device"));
    Node::Array providers;
    for (std::size_t i = 0; i < snapshot.providers.size(); ++i) {
        providers.items.push_back(
            encodeProvider(snapshot.providers[i], "providers[" + std::to_string(i) + "]"));
    }
    b.node("providers", Node{std::move(providers)});
    b.integer("schemaVersion", snapshot.schemaVersion);
    b.string("snapshotId", snapshot.snapshotId);
    b.string("syncSpaceId", snapshot.syncSpaceId);
    b.date("updatedAt", snapshot.updatedAt);
    return b.build();
}

// Length of the valid UTF-8 sequence at text[pos], or 0 when the bytes there are not one.
std::size_t validUtf8Length(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    std::uint32_t min = 0;
    std::uint32_t codePoint = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(pos + i) & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// ---- Reading ---------------------------------------------------------------------------------

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

struct DecodeFailure {
    SnapshotDecodeError error;
};

[[noreturn]] void fail(SnapshotDecodeError::Kind kind, std::string path, std::string detail) {
    throw DecodeFailure{{kind, std::move(path), std::move(detail)}};
}

class ObjectReader {
public:
    ObjectReader(element value, std::string path) : m_path(std::move(path)) {
        if (value.get(m_object) != simdjson::SUCCESS) {
            fail(SnapshotDecodeError::Kind::wrongType, m_path, "expected an object");
        }
    }

    std::string memberPath(std::string_view key) const {
        return m_path.empty() ? std::string(key) : m_path + "." + std::string(key);
    }

    std::optional<element> optionalMember(std::string_view key) const {
        element value;
        if (m_object.at_key(key).get(value) != simdjson::SUCCESS ||
            value.type() == element_type::NULL_VALUE) {
            return std::nullopt;
        }
        return value;
    }

    element member(std::string_view key) const {
        auto value = optionalMember(key);
        if (!value) {
            fail(SnapshotDecodeError::Kind::missingMember, memberPath(key), "required member");
        }
        return *value;
    }

    std::string string(std::string_view key) const { return asString(member(key), key); }
    std::optional<std::string> optionalString(std::string_view key) const {
        auto value = optionalMember(key);
        return value ? std::optional(asString(*value, key)) : std::nullopt;
    }

    std::optional<double> optionalNumber(std::string_view key) const {
        auto value = optionalMember(key);
        if (!value) {
            return std::nullopt;
        }
        switch (value->type()) {
        case element_type::INT64:
            return double(value->get_int64().value_unsafe());
        case element_type::UINT64:
            return double(value->get_uint64().value_unsafe());
        case element_type::DOUBLE:
            return value->get_double().value_unsafe();
        default:
            fail(SnapshotDecodeError::Kind::wrongType, memberPath(key), "expected a number");
        }
    }

    std::int64_t integer(std::string_view key) const {
        const element value = member(key);
        if (value.type() == element_type::INT64) {
            return value.get_int64().value_unsafe();
        }
        if (value.type() == element_type::DOUBLE) {
            // An integral number written with a fraction or exponent ("1.0", "1e0").
            const double number = value.get_double().value_unsafe();
            if (std::trunc(number) == number && number >= -9.2e18 && number <= 9.2e18) {
                return std::int64_t(number);
            }
        }
        fail(SnapshotDecodeError::Kind::wrongType, memberPath(key), "expected a 64-bit integer");
    }

    Instant date(std::string_view key) const { return asDate(member(key), key); }
    std::optional<Instant> optionalDate(std::string_view key) const {
        auto value = optionalMember(key);
        return value ? std::optional(asDate(*value, key)) : std::nullopt;
    }

    template <class E> E enumeration(std::string_view key) const {
        const std::string raw = string(key);
        const auto value = enumFromRawValue<E>(raw);
        if (!value) {
            fail(SnapshotDecodeError::Kind::unknownEnumValue, memberPath(key),
                 "unknown value \"" + raw + "\"");
        }
        return *value;
    }

private:
    std::string asString(element value, std::string_view key) const {
        if (value.type() != element_type::STRING) {
            fail(SnapshotDecodeError::Kind::wrongType, memberPath(key), "expected a string");
        }
        return std::string(value.get_string().value_unsafe());
    }

    Instant asDate(element value, std::string_view key) const {
        const std::string text = asString(value, key);
        const auto instant = parseInternetDateTimeWholeSeconds(text);
        if (!instant) {
            fail(SnapshotDecodeError::Kind::invalidDate, memberPath(key),
                 "not an internet date-time without fractional seconds: \"" + text + "\"");
        }
        return *instant;
    }

    std::string m_path;
    object m_object;
};

SnapshotDevice decodeDevice(element value, const std::string& path) {
    const ObjectReader r(value, path);
    SnapshotDevice device;
    device.id = r.string("id");
    device.name = r.string("name");
    device.kind = r.enumeration<SnapshotDeviceKind>("kind");
    return device;
}

UsageWindow decodeWindow(element value, const std::string& path) {
    const ObjectReader r(value, path);
    UsageWindow window;
    window.kind = r.enumeration<UsageWindowKind>("kind");
    window.label = r.optionalString("label");
    window.startedAt = r.optionalDate("startedAt");
    window.resetAt = r.optionalDate("resetAt");
    return window;
}

UsageMetrics decodeMetrics(element value, const std::string& path) {
    const ObjectReader r(value, path);
    UsageMetrics usage;
    usage.usedPercent = r.optionalNumber("usedPercent");
    usage.remainingPercent = r.optionalNumber("remainingPercent");
    usage.inputTokens = r.optionalNumber("inputTokens");
    usage.outputTokens = r.optionalNumber("outputTokens");
    usage.cachedInputTokens = r.optionalNumber("cachedInputTokens");
    usage.costUsd = r.optionalNumber("costUsd");
    usage.remainingText = r.optionalString("remainingText");
    return usage;
}

ProviderUsage decodeProvider(element value, const std::string& path) {
    const ObjectReader r(value, path);
    ProviderUsage row;
    row.id = r.string("id");
    row.displayName = r.string("displayName");
    row.source = r.enumeration<SourceType>("source");
    row.confidence = r.enumeration<Confidence>("confidence");
    row.status = r.enumeration<ProviderStatus>("status");
    if (const auto window = r.optionalMember("window")) {
        row.window = decodeWindow(*window, r.memberPath("window"));
    }
    row.usage = decodeMetrics(r.member("usage"), r.memberPath("usage"));
    row.observedAt = r.date("observedAt");
    return row;
}

UsageSnapshot decodeSnapshotElement(element root) {
    const ObjectReader r(root, "");
    UsageSnapshot snapshot;
    snapshot.schemaVersion = r.integer("schemaVersion");
    snapshot.snapshotId = r.string("snapshotId");
    snapshot.syncSpaceId = r.string("syncSpaceId");
    snapshot.updatedAt = r.date("updatedAt");
    snapshot.device = decodeDevice(r.member("device"), "device");
    const element providers = r.member("providers");
    simdjson::dom::array rows;
    if (providers.get(rows) != simdjson::SUCCESS) {
        fail(SnapshotDecodeError::Kind::wrongType, "providers", "expected an array");
    }
    std::size_t index = 0;
    for (const element row : rows) {
        snapshot.providers.push_back(
            decodeProvider(row, "providers[" + std::to_string(index++) + "]"));
    }
    return snapshot;
}

} // namespace

std::string SnapshotEncodeError::description() const {
    return "Cannot encode snapshot: " + message + (path.empty() ? "" : " at " + path);
}

std::string SnapshotDecodeError::description() const {
    std::string text;
    switch (kind) {
    case Kind::malformedJson:
        text = "The data is not valid JSON";
        break;
    case Kind::missingMember:
        text = "Missing required member";
        break;
    case Kind::wrongType:
        text = "Member has the wrong type";
        break;
    case Kind::invalidDate:
        text = "Invalid date";
        break;
    case Kind::unknownEnumValue:
        text = "Unknown enumeration value";
        break;
    }
    if (!path.empty()) {
        text += " at " + path;
    }
    if (!detail.empty()) {
        text += ": " + detail;
    }
    return text;
}

std::string jsonQuoted(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t pos = 0; pos < text.size();) {
        const auto c = static_cast<unsigned char>(text[pos]);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0x0F];
            } else if (c < 0x80) {
                out += char(c);
            } else if (const std::size_t length = validUtf8Length(text, pos); length > 0) {
                out.append(text.substr(pos, length));
                pos += length;
                continue;
            } else {
                out += "\xEF\xBF\xBD"; // U+FFFD for a byte that starts no valid sequence
            }
        }
        ++pos;
    }
    out += '"';
    return out;
}

std::string jsonNumber(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

Result<std::string, SnapshotEncodeError> encodeSnapshot(const UsageSnapshot& snapshot) {
    try {
        const Node root = encodeSnapshotNode(snapshot);
        std::string out;
        write(out, root, 0);
        return out;
    } catch (const EncodeFailure& failure) {
        return failure.error;
    }
}

Result<UsageSnapshot, SnapshotDecodeError> decodeSnapshot(std::string_view json) {
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(json);
    element root;
    if (const auto error = parser.parse(padded).get(root); error != simdjson::SUCCESS) {
        return SnapshotDecodeError{SnapshotDecodeError::Kind::malformedJson, "",
                                   simdjson::error_message(error)};
    }
    try {
        return decodeSnapshotElement(root);
    } catch (const DecodeFailure& failure) {
        return failure.error;
    }
}

} // namespace korvo
