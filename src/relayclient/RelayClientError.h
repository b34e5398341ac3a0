#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>

namespace korvo {

// The relay answered, but not as expected.
struct RelayClientError {
    enum class Kind {
        badResponse,  // not an HTTP answer (status -1) or a status outside 200...299
        decodeFailed, // a good status, but the body is not the expected record
    };

    Kind kind = Kind::badResponse;
    int statusCode = -1;             // badResponse only
    std::optional<std::string> body; // the body as UTF-8 text; absent when it is not UTF-8
    std::string underlying;          // decodeFailed only: why decoding failed

    static RelayClientError badResponse(int statusCode, std::optional<std::string> body) {
        return {Kind::badResponse, statusCode, std::move(body), {}};
    }
    static RelayClientError decodeFailed(std::optional<std::string> body, std::string underlying) {
        return {Kind::decodeFailed, -1, std::move(body), std::move(underlying)};
    }

    // How much of a body the description quotes.
    static constexpr std::size_t kMaxBodyInDescription = 512;

    // "Relay returned HTTP 401: {...}", "Relay returned HTTP 500.",
    // "Relay response decode failed: <why>. Body: <body>", "Relay response decode failed: <why>."
    // The body is quoted as printable text, at most kMaxBodyInDescription bytes of it.
    std::string description() const;

    friend bool operator==(const RelayClientError&, const RelayClientError&) = default;
};

// The request never produced an HTTP answer: no connection, DNS failure, time-out, TLS.
struct RelayTransportError {
    int networkError = 0; // QNetworkReply::NetworkError
    std::string message;  // the network layer's own description
    std::string description() const { return message; }
    friend bool operator==(const RelayTransportError&, const RelayTransportError&) = default;
};

// The request could not be built, so nothing was sent: a path that is not a valid URL, or a
// body that could not be encoded.
struct RelayRequestError {
    std::string message;
    std::string description() const { return message; }
    friend bool operator==(const RelayRequestError&, const RelayRequestError&) = default;
};

// Any failure of a relay operation; description() is the text shown after a status prefix.
struct RelayError {
    std::variant<RelayClientError, RelayTransportError, RelayRequestError> cause;

    std::string description() const {
        return std::visit([](const auto& e) { return e.description(); }, cause);
    }
    const RelayClientError* clientError() const { return std::get_if<RelayClientError>(&cause); }
    const RelayTransportError* transportError() const {
        return std::get_if<RelayTransportError>(&cause);
    }
    const RelayRequestError* requestError() const { return std::get_if<RelayRequestError>(&cause); }

    friend bool operator==(const RelayError&, const RelayError&) = default;
};

} // namespace korvo
