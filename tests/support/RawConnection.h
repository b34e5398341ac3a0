#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace korvo::test {

// A plain TCP connection to 127.0.0.1:port from `source`, any address of the loopback network
// (127.0.0.2 is another client than 127.0.0.1), for requests no HTTP client library would send.
class RawConnection {
public:
    using Ms = std::chrono::milliseconds;

    RawConnection(int port, const char* source = "127.0.0.1");
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    int descriptor() const { return fd_; }

    // False once the server has closed the connection.
    bool send(std::string_view bytes);

    // Reads what arrives within `timeout`; stops early at the end of the stream (then closed()
    // is true) or once `enough` returns true for what was read so far.
    std::string read(Ms timeout, const std::function<bool(const std::string&)>& enough = {});
    // Reads until `count` complete answers (each with a content-length) have arrived.
    std::string readAnswers(int count, Ms timeout);
    bool closed() const { return closed_; }

    // How many complete answers `data` holds.
    static int answers(std::string_view data);

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
};

} // namespace korvo::test
