#include "RawConnection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvo::test {

RawConnection::RawConnection(int port, const char* source) {
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

RawConnection::~RawConnection() {
    ::close(fd_);
}

bool RawConnection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string RawConnection::read(Ms timeout, const std::function<bool(const std::string&)>& enough) {
    std::string data;
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!enough || !enough(data)) {
        const auto left = std::chrono::duration_cast<Ms>(until - std::chrono::steady_clock::now());
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

std::string RawConnection::readAnswers(int count, Ms timeout) {
    return read(timeout, [count](const std::string& data) { return answers(data) >= count; });
}

int RawConnection::answers(std::string_view data) {
    int complete = 0;
    for (auto end = data.find("\r\n\r\n"); end != std::string_view::npos;
         end = data.find("\r\n\r\n")) {
        std::string head(data.substr(0, end));
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto at = head.find("content-length: ");
        const std::size_t length = at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
        if (data.size() < end + 4 + length) {
            break;
        }
        ++complete;
        data.remove_prefix(end + 4 + length);
    }
    return complete;
}

} // namespace korvo::test
