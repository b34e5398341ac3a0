#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

namespace korvo {

// The download site's description of the newest build.
struct ConnectorDownloadManifest {
    QString version;
    QString build;
    QString channel;
    QString file; // a URL, or a path relative to the manifest's folder
    std::optional<qint64> sizeBytes;
    std::optional<QString> updatedAt; // publication time as text, not parsed

    bool operator==(const ConnectorDownloadManifest&) const = default;
};

// An update that is newer than the running build.
struct ConnectorUpdateInfo {
    QString version;
    QString build;
    QString channel;
    std::optional<qint64> sizeBytes;
    std::optional<QString> updatedAt;
    QUrl downloadPageURL;
    std::optional<QUrl> directDownloadURL;

    // version + "-" + build + "-" + channel
    QString id() const { return version + u'-' + build + u'-' + channel; }
    bool operator==(const ConnectorUpdateInfo&) const = default;
};

// Decodes the manifest JSON: "version", "build", "channel" and "file" are required strings;
// "sizeBytes" (a whole number) and "updatedAt" (a string) may be absent or null. Unknown
// members are ignored. Nothing when the body does not decode.
std::optional<ConnectorDownloadManifest> decodeDownloadManifest(const QByteArray& json);

// `file` resolved against the manifest URL without its last path component; nothing when that
// does not give a URL.
std::optional<QUrl> resolveDownloadFile(const QString& file, const QUrl& manifestURL);

// Negative, zero or positive as `a` orders before, equal to or after `b`.
// Builds: whole decimal numbers (an optional sign allowed) compare as integers; anything else
// compares in natural order, where runs of digits compare by their numeric value.
int compareBuilds(const QString& a, const QString& b);
// Versions: the numbers between non-digit characters, compared element by element, a missing
// element counting as 0 ("1.2" equals "1.2.0", "1.10" is after "1.9").
int compareVersions(const QString& a, const QString& b);
// Natural order: runs of digits by numeric value, other text case-insensitively.
int compareNatural(const QString& a, const QString& b);

// True when the manifest offers something newer than the running version and build: the build
// decides first, the version only when the builds are equal.
bool isUpdateAvailable(const ConnectorDownloadManifest& manifest, const QString& runningVersion,
                       const QString& runningBuild);

} // namespace korvo
