#include "model/SettingsFile.h"

#include "model/SnapshotJson.h"
#include "model/Utf8.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <simdjson.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace korvo {

namespace {

constexpr std::string_view kFolderName = "korvo-connector";
constexpr std::string_view kFileName = "settings.json";

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

// Holds the lock file beside the settings for as long as it lives.
class SettingsLock {
public:
    SettingsLock(const std::filesystem::path& settings, std::chrono::milliseconds wait)
        : fd_(::open((settings.string() + ".lock").c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR)) {
        if (fd_.get() < 0) {
            return;
        }
        // Another program holds it only for the moment of one change: wait that long, but not
        // for ever on one that hangs.
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        held_ = true;
    }
    bool held() const { return held_; }

private:
    Descriptor fd_;
    bool held_ = false;
};

} // namespace

std::filesystem::path SettingsFile::location(const Environment& environment,
                                             const std::filesystem::path& home) {
    if (const auto file = environment(kFileVariable); file && !file->empty()) {
        return *file;
    }
    std::filesystem::path config;
    if (const auto configHome = environment("XDG_CONFIG_HOME");
        configHome && std::filesystem::path(*configHome).is_absolute()) {
        config = *configHome;
    } else if (!home.empty()) {
        config = home / ".config";
    } else {
        return {};
    }
    return config / kFolderName / kFileName;
}

SettingsFile::SettingsFile(std::filesystem::path path, std::chrono::milliseconds lockWait)
    : path_(std::move(path)), lockWait_(lockWait) {
    Reading reading = read(path_);
    members_ = std::move(reading.members);
    holdsSettings_ = reading.contents == Contents::settings;
}

std::optional<std::string> SettingsFile::value(std::string_view key) const {
    const auto member = members_.find(key);
    if (member == members_.end() || !member->second.isString) {
        return std::nullopt;
    }
    return member->second.text;
}

bool SettingsFile::set(std::string_view key, std::string_view value) {
    if (!isValidUtf8(key) || !isValidUtf8(value)) {
        return false;
    }
    const Member member{std::string(value), true};
    const bool saved = update([&](Reading& reading) {
        const auto [found, added] = reading.members.try_emplace(std::string(key), member);
        if (!added && found->second == member) {
            return false;
        }
        found->second = member;
        return true;
    });
    if (!saved) {
        members_.insert_or_assign(std::string(key), member);
    }
    return saved;
}

bool SettingsFile::remove(std::string_view key) {
    const auto erase = [key](Members& members) {
        const auto member = members.find(key);
        if (member == members.end()) {
            return false;
        }
        members.erase(member);
        return true;
    };
    const bool saved = update([&](Reading& reading) { return erase(reading.members); });
    if (!saved) {
        erase(members_);
    }
    return saved;
}

bool SettingsFile::adopt(const std::map<std::string, std::string, std::less<>>& values) {
    bool adopted = false;
    const bool done = update([&](Reading& reading) {
        if (reading.contents == Contents::settings) {
            return false;
        }
        reading.members.clear();
        for (const auto& [key, value] : values) {
            if (isValidUtf8(key) && isValidUtf8(value)) {
                reading.members.insert_or_assign(key, Member{value, true});
            }
        }
        adopted = true;
        return true;
    });
    return done && adopted;
}

SettingsFile::Reading SettingsFile::read(const std::filesystem::path& path) {
    Reading reading;
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        reading.contents =
            errno == ENOENT || errno == ENOTDIR ? Contents::missing : Contents::unreadable;
        return reading;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        reading.contents = Contents::unreadable;
        return reading;
    }
    // An older version may have left it readable by others.
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        ::fchmod(fd.get(), status.st_mode & S_IRWXU);
    }
    std::string text(kMaxBytes + 1, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const ssize_t got = ::read(fd.get(), text.data() + size, text.size() - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            reading.contents = Contents::unreadable;
            return reading;
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    reading.contents = Contents::other;
    if (size > kMaxBytes) {
        return reading;
    }
    text.resize(size);
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    if (parser.parse(simdjson::padded_string(text)).get_object().get(object) != simdjson::SUCCESS) {
        return reading;
    }
    for (const auto field : object) {
        std::string_view string;
        if (field.value.get_string().get(string) == simdjson::SUCCESS) {
            reading.members.insert_or_assign(std::string(field.key), Member{std::string(string)});
        } else {
            reading.members.insert_or_assign(std::string(field.key),
                                             Member{simdjson::minify(field.value), false});
        }
    }
    reading.contents = Contents::settings;
    return reading;
}

std::string SettingsFile::encode(const Members& members) {
    std::string text = "{";
    const char* separator = "\n";
    for (const auto& [key, member] : members) {
        text += separator;
        text += "  ";
        text += jsonQuoted(key);
        text += ": ";
        if (member.isString) {
            text += jsonQuoted(member.text);
        } else {
            text += member.text;
        }
        separator = ",\n";
    }
    text += members.empty() ? "}\n" : "\n}\n";
    return text;
}

bool SettingsFile::update(const std::function<bool(Reading&)>& change) {
    if (path_.empty()) {
        return false;
    }
    const std::filesystem::path folder = path_.parent_path();
    std::error_code error;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
    }
    const SettingsLock lock(path_, lockWait_);
    if (!lock.held()) {
        return false;
    }
    Reading reading = read(path_);
    if (reading.contents == Contents::unreadable) {
        return false;
    }
    if (change(reading)) {
        if (!write(reading.members)) {
            return false;
        }
        reading.contents = Contents::settings;
    }
    members_ = std::move(reading.members);
    holdsSettings_ = reading.contents == Contents::settings;
    return true;
}

bool SettingsFile::write(const Members& members) const {
    const std::string text = encode(members);
    if (text.size() > kMaxBytes) {
        return false;
    }
    // A new file beside the old one, made 0600 by mkstemp, replaces it in one step.
    std::string temporary = path_.string() + ".XXXXXX";
    const Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0 ||
        ::rename(temporary.c_str(), path_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace korvo
