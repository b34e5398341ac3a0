#pragma once

#include "model/Clock.h"
#include "model/Instant.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <filesystem>
#include <optional>

namespace korvo {

class RelaySettings;
class SnapshotUploader;

// The last finished upload and the last relay check of any run of the connector for this user,
// so that `status` in another process can say when the running one last uploaded. Kept in a
// small file readable only by the user, with nothing but these texts and times.
struct LastSyncRecord {
    QString relayURL; // the relay they are about, printable (no user info)
    std::optional<Instant> uploadAt;
    QString upload;      // "Uploaded snap_…" or "Failed"
    QString uploadError; // "None" or the failure's description
    std::optional<Instant> relayCheckAt;
    QString relay; // "Reachable", "Unreachable", or the relay's own status word

    friend bool operator==(const LastSyncRecord&, const LastSyncRecord&) = default;
};

// ~/.korvo/last-sync.json under `home`.
std::filesystem::path lastSyncRecordPath(const std::filesystem::path& home);
// The record in `file`; nothing when it is missing, larger than a few KiB or not one.
std::optional<LastSyncRecord> readLastSyncRecord(const std::filesystem::path& file);
// Writes `record` to `file` whole (a temporary file renamed over it), mode 0600, creating its
// folder (0700) when missing; false when that failed.
bool writeLastSyncRecord(const std::filesystem::path& file, const LastSyncRecord& record);

// Follows the uploads and the relay settings and writes its finished uploads and relay checks to
// the record, on a thread of its own so that the GUI thread never waits for the disk. Writes keep
// their order; an unlink forgets the recorded upload.
class LastSyncRecorder final : public QObject {
public:
    LastSyncRecorder(const SnapshotUploader& uploader, const RelaySettings& relay,
                     std::filesystem::path file, Clock clock);
    ~LastSyncRecorder() override;

private:
    void update();

    const SnapshotUploader& uploader_;
    const RelaySettings& relay_;
    std::filesystem::path file_;
    Clock clock_;
    LastSyncRecord record_;
    QThreadPool writer_;
};

} // namespace korvo
