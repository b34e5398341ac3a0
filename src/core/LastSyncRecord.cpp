#include "core/LastSyncRecord.h"

#include "core/ConnectorStatusText.h"
#include "core/RelaySettings.h"
#include "core/SnapshotUploader.h"
#include "model/TimeText.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <sys/stat.h>

namespace korvo {

namespace {

constexpr qint64 kMaxRecordBytes = 8 * 1024;

QString timeText(const std::optional<Instant>& at) {
    return at ? QString::fromStdString(formatInternetDateTime(*at)) : QString();
}

std::optional<Instant> timeOf(const QJsonValue& value) {
    if (!value.isString()) {
        return std::nullopt;
    }
    return parseInternetDateTime(value.toString().toStdString());
}

} // namespace

std::filesystem::path lastSyncRecordPath(const std::filesystem::path& home) {
    return home / ".korvo" / "last-sync.json";
}

std::optional<LastSyncRecord> readLastSyncRecord(const std::filesystem::path& file) {
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = in.read(kMaxRecordBytes + 1);
    if (bytes.size() > kMaxRecordBytes) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = document.object();
    LastSyncRecord record;
    record.relayURL = o.value(QStringLiteral("relayURL")).toString();
    record.uploadAt = timeOf(o.value(QStringLiteral("uploadAt")));
    record.upload = o.value(QStringLiteral("upload")).toString();
    record.uploadError = o.value(QStringLiteral("uploadError")).toString();
    record.relayCheckAt = timeOf(o.value(QStringLiteral("relayCheckAt")));
    record.relay = o.value(QStringLiteral("relay")).toString();
    return record;
}

bool writeLastSyncRecord(const std::filesystem::path& file, const LastSyncRecord& record) {
    std::error_code ec;
    if (std::filesystem::create_directories(file.parent_path(), ec)) {
        ::chmod(file.parent_path().c_str(), 0700);
    }
    QJsonObject o;
    o.insert(QStringLiteral("relayURL"), record.relayURL);
    if (record.uploadAt) {
        o.insert(QStringLiteral("uploadAt"), timeText(record.uploadAt));
        o.insert(QStringLiteral("upload"), record.upload);
        o.insert(QStringLiteral("uploadError"), record.uploadError);
    }
    if (record.relayCheckAt) {
        o.insert(QStringLiteral("relayCheckAt"), timeText(record.relayCheckAt));
        o.insert(QStringLiteral("relay"), record.relay);
    }
    QSaveFile out(QString::fromStdString(file.string()));
    if (!out.open(QIODevice::WriteOnly)) {
        return false;
    }
    // Owner-only before any byte is written; the rename keeps the mode.
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    out.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    return out.commit();
}

LastSyncRecorder::LastSyncRecorder(const SnapshotUploader& uploader, const RelaySettings& relay,
                                   std::filesystem::path file, Clock clock)
    : uploader_(uploader), relay_(relay), file_(std::move(file)), clock_(std::move(clock)) {
    writer_.setMaxThreadCount(1);
    connect(&uploader_, &SnapshotUploader::changed, this, &LastSyncRecorder::update);
    connect(&relay_, &RelaySettings::changed, this, &LastSyncRecorder::update);
}

LastSyncRecorder::~LastSyncRecorder() {
    writer_.waitForDone();
}

void LastSyncRecorder::update() {
    const UploadState& upload = uploader_.state();
    const RelayState& relay = relay_.state();
    const bool uploadFinished =
        upload.phase == UploadState::Phase::uploaded || upload.phase == UploadState::Phase::failed;
    const RelayState::Health health = relay.health;
    const bool relayChecked = health == RelayState::Health::reachable ||
                              health == RelayState::Health::otherStatus ||
                              health == RelayState::Health::unreachable;
    LastSyncRecord seen = record_;
    seen.relayURL = RelayAddress::printable(relay.baseURLString);
    if (uploadFinished) {
        seen.uploadAt = upload.phase == UploadState::Phase::uploaded && upload.lastUploadAt
                            ? upload.lastUploadAt
                        : record_.upload == uploadStatusText(upload) &&
                                record_.uploadError == uploadErrorText(upload)
                            ? record_.uploadAt
                            : std::optional(clock_());
        seen.upload = uploadStatusText(upload);
        seen.uploadError = uploadErrorText(upload);
    }
    const QString relayHealth = relayHealthText(relay);
    if (relayChecked && (seen.relay != relayHealth || !seen.relayCheckAt)) {
        seen.relayCheckAt = clock_();
        seen.relay = relayHealth;
    }
    if (seen == record_) {
        return;
    }
    const bool uploadChanged = seen.uploadAt != record_.uploadAt || seen.upload != record_.upload;
    const bool relayChanged = seen.relayCheckAt != record_.relayCheckAt;
    record_ = seen;
    if (!uploadChanged && !relayChanged) {
        return;
    }
    // What this run saw replaces its part of the record; the other part stays as another run
    // left it. Read and written on the writer's thread.
    writer_.start([file = file_, seen, uploadChanged, relayChanged] {
        LastSyncRecord merged = readLastSyncRecord(file).value_or(LastSyncRecord{});
        if (merged.relayURL != seen.relayURL) {
            merged = LastSyncRecord{seen.relayURL, {}, {}, {}, {}, {}};
        }
        if (uploadChanged) {
            merged.uploadAt = seen.uploadAt;
            merged.upload = seen.upload;
            merged.uploadError = seen.uploadError;
        }
        if (relayChanged) {
            merged.relayCheckAt = seen.relayCheckAt;
            merged.relay = seen.relay;
        }
        writeLastSyncRecord(file, merged);
    });
}

} // namespace korvo
