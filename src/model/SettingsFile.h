#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// The connector's settings: a few named strings ("connectorDeviceId", "syncSpaceId",
// "relayBaseURL", …) in one small JSON object, read and written by every program of the
// connector, the one without Qt included:
//
//   {
//     "connectorDeviceId": "mac_0123456789AB",
//     "syncSpaceId": "space_7"
//   }
//
// The file is read once when the object is made and kept in memory. Each change is made under
// an exclusive lock on a file beside it: the file is read again, the one change applied to what
// it holds then, and the result written to a new file that replaces the old one, so two programs
// that change different keys keep each other's, and a reader never sees half a file. The file
// is readable by the user only (the relay URL may hold a password): written 0600, and one found
// readable by others is narrowed when opened. Members that are not strings (a hand-edited file)
// read as missing and are kept as they are.
class SettingsFile {
public:
    // Names another file than the usual one (tests, a second copy of the connector).
    static constexpr const char* kFileVariable = "KORVO_SETTINGS_FILE";
    // A settings file is a few short lines; a larger one is not read, and a change that would
    // make it larger is not written.
    static constexpr std::size_t kMaxBytes = 64 * 1024;

    using Environment = std::function<std::optional<std::string>(std::string_view name)>;

    // Where the settings are: the file KORVO_SETTINGS_FILE names, else
    // korvo-connector/settings.json under $XDG_CONFIG_HOME (when absolute) or ~/.config; empty
    // when there is no home to put it in.
    static std::filesystem::path location(const Environment& environment,
                                          const std::filesystem::path& home);

    explicit SettingsFile(std::filesystem::path path,
                          std::chrono::milliseconds lockWait = std::chrono::seconds(2));

    const std::filesystem::path& path() const { return path_; }

    // The string stored under key, or nothing when the key is missing or holds another kind of
    // value.
    std::optional<std::string> value(std::string_view key) const;

    // Whether the file held a settings object when it was last read: false when it was missing,
    // unreadable, too large or held something else (such as an older version's file).
    bool holdsSettings() const { return holdsSettings_; }

    // Store or remove one key. False when the file could not be written (no lock within the
    // wait, a folder that cannot be made, a full disk, a value that is not UTF-8 or too large);
    // the change then holds for this object only.
    bool set(std::string_view key, std::string_view value);
    bool remove(std::string_view key);

    // Writes `values` as the settings when the file still holds none (see holdsSettings()), and
    // nothing otherwise: the values an older version kept elsewhere, carried over once by the
    // first program that gets the lock. True when they were written.
    bool adopt(const std::map<std::string, std::string, std::less<>>& values);

private:
    // A member's value: a string, or the JSON text of anything else.
    struct Member {
        std::string text;
        bool isString = true;
        bool operator==(const Member&) const = default;
    };
    using Members = std::map<std::string, Member, std::less<>>;
    enum class Contents { missing, settings, other, unreadable };
    struct Reading {
        Contents contents = Contents::missing;
        Members members;
    };

    static Reading read(const std::filesystem::path& path);
    static std::string encode(const Members& members);
    // Locks, reads the file again, lets `change` edit what it holds (answering false to leave
    // the file as it is) and writes the result.
    bool update(const std::function<bool(Reading&)>& change);
    bool write(const Members& members) const;

    std::filesystem::path path_;
    std::chrono::milliseconds lockWait_;
    Members members_;
    bool holdsSettings_ = false;
};

} // namespace korvo
