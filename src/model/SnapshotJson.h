#pragma once

#include "model/Result.h"
#include "model/UsageSnapshot.h"

#include <string>
#include <string_view>

namespace korvo {

// Encoding the snapshot wire form: UTF-8 JSON, two-space indentation, `"key" : value`, members
// sorted by name, absent optionals left out, dates as whole-second UTC internet date-times,
// numbers in shortest round-trip form. The same snapshot always encodes to the same bytes.
struct SnapshotEncodeError {
    std::string path;    // where the offending value sits, e.g. "providers[0].usage.costUsd"
    std::string message; // what is wrong with it

    std::string description() const;
    friend bool operator==(const SnapshotEncodeError&, const SnapshotEncodeError&) = default;
};

// Fails (and produces no bytes) when a number is not finite.
Result<std::string, SnapshotEncodeError> encodeSnapshot(const UsageSnapshot& snapshot);

struct SnapshotDecodeError {
    enum class Kind {
        malformedJson,    // not JSON at all, or not valid UTF-8
        missingMember,    // a required member is absent (or null)
        wrongType,        // a member has the wrong JSON type
        invalidDate,      // not an internet date-time without fractional seconds
        unknownEnumValue, // a string that is not one of the raw values
    };

    Kind kind = Kind::malformedJson;
    std::string path; // member path, e.g. "providers[1].window.resetAt"; empty for the root
    std::string detail;

    std::string description() const;
    friend bool operator==(const SnapshotDecodeError&, const SnapshotDecodeError&) = default;
};

// Strict decoding: a missing required member, a wrong type, a date with fractional seconds or
// an unknown enumeration value fails the whole decode. Unknown members are ignored; an absent
// or null optional member is absent.
Result<UsageSnapshot, SnapshotDecodeError> decodeSnapshot(std::string_view json);

// Pieces of the writer, for other documents written in the same form.

// `text` as a JSON string literal with quotes. Invalid UTF-8 sequences become U+FFFD.
std::string jsonQuoted(std::string_view text);

// Shortest text that reads back as the same double ("63", "3.42", "1e+20").
// Precondition: the value is finite.
std::string jsonNumber(double value);

} // namespace korvo
