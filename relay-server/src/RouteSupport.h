#pragma once

#include "HttpMessage.h"

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvo::relayserver {

// The pieces every route of the relay's API shares: its JSON answers, the bearer token, the
// members of a JSON body and the limits on their texts.

// Sets `status` and the body {"error": message}.
void fail(HttpResponse& res, int status, std::string_view message);
// A 200 answer with `body`.
void answer(HttpResponse& res, std::string body);

// The token of an "authorization: Bearer TOKEN" header, or nothing.
std::optional<std::string> bearerToken(const HttpRequest& req);

// The string members `names` of a JSON object body; nothing when the body is not such an
// object or a member is missing, empty or not a string (`problem` says which).
std::optional<std::vector<std::string>> stringMembers(const std::string& body,
                                                      std::initializer_list<const char*> names,
                                                      std::string& problem);

// The string member `name` of a JSON object body (with `inner`, the member `inner` of that
// member); nothing when it is missing, empty or not a string.
std::optional<std::string> optionalStringMember(const std::string& body, const char* name,
                                                const char* inner = nullptr);

// "NAME is longer than LIMIT bytes" when `value` is, else nothing.
std::optional<std::string> tooLong(std::string_view name, const std::string& value,
                                   std::size_t limit);

// Names and ids are text: a NUL, which JSON can carry, is refused rather than stored.
bool containsNul(const std::string& value);

std::string lowerCase(std::string_view text);

// The relay's API (as opposed to the web view's files): its answers are never cached.
bool isApiPath(std::string_view path);

// A write to the API that is refused before it is routed: a POST whose body is not declared as
// JSON (415), so that no cross-origin form or text/plain request can make one without a
// preflight, and any write from a browser page of another origin (403).
std::optional<std::pair<int, std::string>> refusedWrite(const HttpRequest& request);

} // namespace korvo::relayserver
