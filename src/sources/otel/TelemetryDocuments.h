#pragma once

#include "sources/otel/OTelTokenTotal.h"

#include <cstddef>
#include <filesystem>
#include <simdjson.h>
#include <span>
#include <string_view>

namespace korvo {

// The JSON documents (objects or arrays) of a telemetry file are read from the bounded tail of
// the file, in file order: one document per line, or documents pretty-printed over several lines
// one after another (each beginning with "{" or "[" at the start of a line). A document cut by
// the start of the tail, and lines that are not JSON, are skipped. `parser` may be shared by the
// calls of one collection.

// Adds the token points of the accepted metrics found in the last `maxDocuments` documents of
// the file's tail to `total`. Only regular files are read. When a record of the tail holds one of
// `textKeys` (attributes that carry prompt, request or response text), the read stops before any
// number is taken: `total` is left as it was and the answer is false.
bool readTelemetryTokens(const std::filesystem::path& file,
                         std::span<const std::string_view> acceptedNames, std::size_t maxDocuments,
                         simdjson::dom::parser& parser, OTelTokenTotal& total,
                         std::span<const std::string_view> textKeys = {});

// Whether readTelemetryTokens would find a token count (input, output or cached) in the file.
// Stops at the first one when every document of the tail is within the last `maxDocuments`.
// A record holding one of `textKeys` makes it answer false and sets `heldText`, when given.
bool hasTelemetryTokenCounts(const std::filesystem::path& file,
                             std::span<const std::string_view> acceptedNames,
                             std::size_t maxDocuments, simdjson::dom::parser& parser,
                             std::span<const std::string_view> textKeys = {},
                             bool* heldText = nullptr);

} // namespace korvo
