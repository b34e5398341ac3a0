#include "model/SnapshotJson.h"

#include "model/TimeText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <simdjson.h>
#include <type_traits>
#include <variant>

namespace korvo {
namespace {

// ---- Members ---------------------------------------------------------------------------------

// The members of each record as the wire form names them, in the order they are read; the same
// lists write the records (members are written sorted by name). `field(name, member)` is a
// required scalar member, `field.optional` one that may be absent, `field.nested` an object or
// array of records.
template <class R, class T>
concept RecordOf = std::same_as<std::remove_const_t<R>, T>;

// A record written as a JSON object of its own.
template <class T>
concept Record = RecordOf<T, SnapshotDevice> || RecordOf<T, UsageWindow> ||
    RecordOf<T, UsageMetrics> || RecordOf<T, ProviderUsage>;

template <RecordOf<SnapshotDevice> R, class Field> void fields(R& device, Field& field) {
    field("id", device.id);
    field("name", device.name);
    field("kind", device.kind);
}

template <RecordOf<UsageWindow> R, class Field> void fields(R& window, Field& field) {
    field("kind", window.kind);
    field.optional("label", window.label);
    field.optional("startedAt", window.startedAt);
    field.optional("resetAt", window.resetAt);
}

template <RecordOf<UsageMetrics> R, class Field> void fields(R& usage, Field& field) {
    field.optional("usedPercent", usage.usedPercent);
    field.optional("remainingPercent", usage.remainingPercent);
    field.optional("inputTokens", usage.inputTokens);
    field.optional("outputTokens", usage.outputTokens);
    field.optional("cachedInputTokens", usage.cachedInputTokens);
    field.optional("costUsd", usage.costUsd);
    field.optional("remainingText", usage.remainingText);
}

template <RecordOf<ProviderUsage> R, class Field> void fields(R& row, Field& field) {
    field("id", row.id);
    field("displayName", row.displayName);
    field("source", row.source);
    field("confidence", row.confidence);
    field("status", row.status);
    field.optional("window", row.window);
    field.nested("usage", row.usage);
    field("observedAt", row.observedAt);
}

template <RecordOf<UsageSnapshot> R, class Field> void fields(R& snapshot, Field& field) {
    field("schemaVersion", snapshot.schemaVersion);
    field("snapshotId", snapshot.snapshotId);
    field("syncSpaceId", snapshot.syncSpaceId);
    field("updatedAt", snapshot.updatedAt);
    field.nested("device", snapshot.device);
    field.nested("providers", snapshot.providers);
}

// The path of the record at `index` of the array at `path`.
std::string itemPath(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

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

template <class R> Node encodeRecord(const R& record, std::string path);

// Writes one record's members; the visitor of fields().
class ObjectBuilder {
public:
    explicit ObjectBuilder(std::string path) : path_(std::move(path)) {}

    void operator()(const std::string& key, std::string_view value) { add(key, jsonQuoted(value)); }
    void operator()(const std::string& key, double value) {
        if (!std::isfinite(value)) {
            throw EncodeFailure{{memberPath(key), "number is not finite"}};
        }
        add(key, jsonNumber(value));
    }
    void operator()(const std::string& key, std::int64_t value) { add(key, std::to_string(value)); }
    void operator()(const std::string& key, Instant value) {
        (*this)(key, formatInternetDateTime(value));
    }
    template <class E>
    requires std::is_enum_v<E>
    void operator()(const std::string& key, E value) { (*this)(key, rawValue(value)); }
    template <class T> void optional(const std::string& key, const std::optional<T>& value) {
        if (!value) {
            return;
        }
        if constexpr (Record<T>) {
            nested(key, *value);
        } else {
            (*this)(key, *value);
        }
    }
    template <Record R> void nested(const std::string& key, const R& record) {
        add(key, encodeRecord(record, memberPath(key)));
    }
    void nested(const std::string& key, const std::vector<ProviderUsage>& rows) {
        Node::Array items;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            items.items.push_back(encodeRecord(rows[i], itemPath(memberPath(key), i)));
        }
        add(key, Node{std::move(items)});
    }

    Node build() { return Node{std::move(object_)}; }

private:
    std::string memberPath(const std::string& key) const {
        return path_.empty() ? key : path_ + "." + key;
    }
    void add(const std::string& key, std::string literal) { add(key, Node{std::move(literal)}); }
    void add(const std::string& key, Node value) {
        object_.members.push_back({key, std::move(value)});
    }

    std::string path_;
    Node::Object object_;
};

template <class R> Node encodeRecord(const R& record, std::string path) {
    ObjectBuilder builder(std::move(path));
    fields(record, builder);
    return builder.build();
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

template <class R> R decodeRecord(element value, std::string path);

// Reads one record's members, failing on the first that is missing or malformed.
class ObjectReader {
public:
    ObjectReader(element value, std::string path) : path_(std::move(path)) {
        if (value.get(object_) != simdjson::SUCCESS) {
            fail(SnapshotDecodeError::Kind::wrongType, path_, "expected an object");
        }
    }

    std::string memberPath(std::string_view key) const {
        return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
    }

    std::optional<element> optionalMember(std::string_view key) const {
        element value;
        if (object_.at_key(key).get(value) != simdjson::SUCCESS ||
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

    // The visitor of fields().
    void operator()(std::string_view key, std::string& value) const { value = string(key); }
    void operator()(std::string_view key, std::int64_t& value) const { value = integer(key); }
    void operator()(std::string_view key, Instant& value) const { value = date(key); }
    template <class E>
    requires std::is_enum_v<E>
    void operator()(std::string_view key, E& value) const { value = enumeration<E>(key); }
    void optional(std::string_view key, std::optional<std::string>& value) const {
        value = optionalString(key);
    }
    void optional(std::string_view key, std::optional<double>& value) const {
        value = optionalNumber(key);
    }
    void optional(std::string_view key, std::optional<Instant>& value) const {
        value = optionalDate(key);
    }
    template <Record R> void optional(std::string_view key, std::optional<R>& record) const {
        if (const auto value = optionalMember(key)) {
            record = decodeRecord<R>(*value, memberPath(key));
        }
    }
    template <Record R> void nested(std::string_view key, R& record) const {
        record = decodeRecord<R>(member(key), memberPath(key));
    }
    void nested(std::string_view key, std::vector<ProviderUsage>& rows) const {
        simdjson::dom::array items;
        if (member(key).get(items) != simdjson::SUCCESS) {
            fail(SnapshotDecodeError::Kind::wrongType, memberPath(key), "expected an array");
        }
        std::size_t index = 0;
        for (const element item : items) {
            rows.push_back(decodeRecord<ProviderUsage>(item, itemPath(memberPath(key), index++)));
        }
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

    std::string path_;
    object object_;
};

template <class R> R decodeRecord(element value, std::string path) {
    const ObjectReader reader(value, std::move(path));
    R record;
    fields(record, reader);
    return record;
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
    // Negative zero is written as 0: "-0" reads back as the integer 0, so a document holding it
    // would not encode to the same bytes twice.
    if (value == 0) {
        value = 0.0;
    }
    // The shortest form of a large number can be an integer literal ("18446744073709552000") that
    // a JSON reader refuses as too big for 64 bits; past 2^63 the exponent form is written.
    constexpr double integerLimit = 9223372036854775808.0;
    char buffer[64];
    if (std::fabs(value) >= integerLimit) {
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
        return std::string(buffer, result.ptr);
    }
    // Below it an integral value is written as the plain integer it is ("100000", never the
    // shorter "1e+05"): every digit is exact, so it reads back as the same number.
    if (std::trunc(value) == value) {
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
        return std::string(buffer, result.ptr);
    }
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

Result<std::string, SnapshotEncodeError> encodeSnapshot(const UsageSnapshot& snapshot) {
    try {
        const Node root = encodeRecord(snapshot, "");
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
        return decodeRecord<UsageSnapshot>(root, "");
    } catch (const DecodeFailure& failure) {
        return failure.error;
    }
}

} // namespace korvo
