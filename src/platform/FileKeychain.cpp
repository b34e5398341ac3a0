#include "platform/FileKeychain.h"

#include <QByteArray>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {
namespace {

constexpr std::string_view kHeader = "korvo-keychain 1";
constexpr off_t kMaxFileSize = 1 << 20;

std::string encode(std::string_view bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()))
        .toBase64(QByteArray::Base64UrlEncoding)
        .toStdString();
}

std::optional<std::string> decode(const std::string& text) {
    if (text == "=") {
        return std::string();
    }
    auto result = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                 QByteArray::Base64UrlEncoding |
                                                     QByteArray::AbortOnBase64DecodingErrors);
    if (!result) {
        return std::nullopt;
    }
    return result.decoded.toStdString();
}

// Releases an flock and closes its descriptor when the scope ends.
class FileLock {
public:
    explicit FileLock(int fd) : fd_(fd) {}
    ~FileLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

} // namespace

FileKeychain::FileKeychain(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path FileKeychain::defaultPath() {
    std::filesystem::path base;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && *dataHome == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr ? home : "") / ".local" / "share";
    }
    return base / "korvo-connector" / "keychain";
}

int FileKeychain::lock(int operation) const {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    ::chmod(file_.parent_path().c_str(), 0700);
    const std::string lockPath = file_.string() + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return -1;
    }
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

std::optional<std::vector<FileKeychain::Item>> FileKeychain::load() const {
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::vector<Item>{};
        }
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileSize) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(done);

    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader) {
        return std::nullopt;
    }
    std::vector<Item> items;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            continue;
        }
        std::istringstream fields(line);
        std::string service, account, data, extra;
        if (!(fields >> service >> account >> data) || (fields >> extra)) {
            return std::nullopt;
        }
        auto s = decode(service);
        auto a = decode(account);
        auto d = decode(data);
        if (!s || !a || !d) {
            return std::nullopt;
        }
        items.push_back({std::move(*s), std::move(*a), std::move(*d)});
    }
    return items;
}

std::int32_t FileKeychain::store(const std::vector<Item>& items) const {
    std::string text(kHeader);
    text += '\n';
    for (const auto& item : items) {
        // Base64 of an empty string is empty; "=" keeps the field present and decodes to "".
        auto field = [](std::string_view bytes) {
            std::string encoded = encode(bytes);
            return encoded.empty() ? std::string("=") : encoded;
        };
        text += field(item.service) + ' ' + field(item.account) + ' ' + field(item.data) + '\n';
    }
    const std::string temporary = file_.string() + ".new";
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errno != 0 ? errno : -1;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int status = errno != 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temporary.c_str());
            return status;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int status = errno != 0 ? errno : EIO;
        ::unlink(temporary.c_str());
        return status;
    }
    if (::rename(temporary.c_str(), file_.c_str()) != 0) {
        const int status = errno != 0 ? errno : EIO;
        ::unlink(temporary.c_str());
        return status;
    }
    return 0;
}

void FileKeychain::removeItems(const std::string& service, const std::string& account) {
    FileLock guard(lock(LOCK_EX));
    if (!guard.held()) {
        return;
    }
    auto items = load();
    if (!items) {
        return;
    }
    const auto before = items->size();
    std::erase_if(*items, [&](const Item& item) {
        return item.service == service && item.account == account;
    });
    if (items->size() != before) {
        store(*items);
    }
}

std::int32_t FileKeychain::addItem(const std::string& service, const std::string& account,
                                   std::string_view data) {
    FileLock guard(lock(LOCK_EX));
    if (!guard.held()) {
        return errno != 0 ? errno : -1;
    }
    auto items = load();
    if (!items) {
        // Never overwrite a file that could not be read: it may hold other items.
        return EIO;
    }
    items->push_back({service, account, std::string(data)});
    return store(*items);
}

std::optional<std::string> FileKeychain::copyItem(const std::string& service,
                                                  const std::string& account) {
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        return std::nullopt;
    }
    FileLock guard(lock(LOCK_SH));
    if (!guard.held()) {
        return std::nullopt;
    }
    auto items = load();
    if (!items) {
        return std::nullopt;
    }
    for (auto& item : *items) {
        if (item.service == service && item.account == account) {
            return std::move(item.data);
        }
    }
    return std::nullopt;
}

} // namespace korvo
