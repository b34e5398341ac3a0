#include "RelayProcess.h"

#include <fstream>
#include <httplib.h>
#include <netinet/in.h>
#include <simdjson.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvo::test {

RelayProcess::RelayProcess(const TempHome& home, std::optional<long long> unixTime) {
    std::vector<std::string> arguments{binary("korvo-relay"),
                                       "--listen",
                                       "127.0.0.1:0",
                                       "--db",
                                       (home.root() / "relay.db").string(),
                                       "--environment",
                                       "test"};
    if (unixTime) {
        const auto clockFile = home.root() / "relay-clock";
        std::ofstream(clockFile) << *unixTime << "\n";
        arguments.insert(arguments.end(), {"--clock-file", clockFile.string()});
    }
    process_ = std::make_unique<Subprocess>(arguments, home.environment());
    const std::string marker = "listening on http://";
    if (!process_->waitForOutput(
            [&](const std::string& out) {
                return out.find('\n', out.find(marker)) != std::string::npos &&
                       out.find(marker) != std::string::npos;
            },
            std::chrono::seconds(10))) {
        return;
    }
    const std::string& out = process_->out();
    const auto start = out.find(marker) + marker.size();
    const std::string address = out.substr(start, out.find('\n', start) - start);
    const auto colon = address.rfind(':');
    host_ = address.substr(0, colon);
    port_ = std::stoi(address.substr(colon + 1));
    baseURL_ = "http://" + address;
}

HttpAnswer RelayProcess::post(const std::string& path, const std::string& body,
                              const std::string& bearer) const {
    httplib::Client client(host_, port_);
    httplib::Headers headers;
    if (!bearer.empty()) {
        headers.emplace("Authorization", "Bearer " + bearer);
    }
    auto result = client.Post(path, headers, body, "application/json");
    return result ? HttpAnswer{result->status, result->body} : HttpAnswer{};
}

HttpAnswer RelayProcess::get(const std::string& path, const std::string& bearer) const {
    httplib::Client client(host_, port_);
    auto result = client.Get(path, {{"Authorization", "Bearer " + bearer}});
    return result ? HttpAnswer{result->status, result->body} : HttpAnswer{};
}

std::string closedLoopbackURL() {
    // Bind a free port, then close it: nothing listens there afterwards.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

std::optional<std::string> jsonString(const std::string& json, const std::string& member) {
    simdjson::dom::parser parser;
    std::string_view value;
    if (parser.parse(json)[member].get_string().get(value) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return std::string(value);
}

} // namespace korvo::test
