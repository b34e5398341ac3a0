#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace korvo::test {

// A plain TCP connection to 127.0.0.1:port from `source`, any address of the loopback network
// (127.0.0.2 is another client than 127.0.0.1), for requests no HTTP client library would send.
class RawConnection {
public:
    using Ms = std::chrono::milliseconds;

    RawConnection(int port, const char* source = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        connected_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                     ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~RawConnection() { ::close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    int descriptor() const { return fd_; }

    // False once the server has closed the connection.
    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Reads what arrives within `timeout`; stops early at the end of the stream (then closed()
    // is true) or once `enough` returns true for what was read so far.
    std::string read(Ms timeout, const std::function<bool(const std::string&)>& enough = {}) {
        std::string data;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (!enough || !enough(data)) {
            const auto left =
                std::chrono::duration_cast<Ms>(until - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[65536];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            data.append(buffer, static_cast<std::size_t>(n));
        }
        return data;
    }
    // Reads until `count` complete answers (each with a content-length) have arrived.
    std::string readAnswers(int count, Ms timeout) {
        return read(timeout, [count](const std::string& data) { return answers(data) >= count; });
    }
    bool closed() const { return closed_; }

    // How many complete answers `data` holds.
    static int answers(std::string_view data) {
        int complete = 0;
        for (auto end = data.find("\r\n\r\n"); end != std::string_view::npos;
             end = data.find("\r\n\r\n")) {
            std::string head(data.substr(0, end));
            std::transform(head.begin(), head.end(), head.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            const auto at = head.find("content-length: ");
            const std::size_t length =
                at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
            if (data.size() < end + 4 + length) {
                break;
            }
            ++complete;
            data.remove_prefix(end + 4 + length);
        }
        return complete;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
};

} // namespace korvo::test
