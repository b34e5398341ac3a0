#pragma once

#include "sources/FileReaders.h"
#include "sources/OTelTokenTotal.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <simdjson.h>
#include <span>
#include <string_view>

namespace korvo {

// Visits, in file order, the JSON documents (objects or arrays) held by the bounded tail of a
// telemetry file: one document per line, or documents pretty-printed over several lines one
// after another (each beginning with "{" or "[" at the start of a line). A document cut by the
// start of the tail, and lines that are not JSON, are skipped. The element passed to `visit`
// is valid only during the call; the walk stops when `visit` answers false.
void forEachTailDocument(const TailLines& tail, simdjson::dom::parser& parser,
                         const std::function<bool(simdjson::dom::element)>& visit);

// Adds the token points of the accepted metrics found in the last `maxDocuments` documents of
// the file's tail to `total`. Only regular files are read.
void readTelemetryTokens(const std::filesystem::path& file,
                         std::span<const std::string_view> acceptedNames,
                         std::string_view windowLabel, std::size_t maxDocuments,
                         OTelTokenTotal& total);

// Whether readTelemetryTokens would find a token count (input, output or cached) in the file.
// Stops at the first one when every document of the tail is within the last `maxDocuments`.
bool hasTelemetryTokenCounts(const std::filesystem::path& file,
                             std::span<const std::string_view> acceptedNames,
                             std::size_t maxDocuments);

} // namespace korvo
