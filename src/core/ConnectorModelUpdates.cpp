// ConnectorModel: checking the download manifest for a newer build.
#include "core/ConnectorModel.h"
#include "platform/UrlOpener.h"
#include "relay/ReplyEnd.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace korvo {

namespace {

// The manifest is a few hundred bytes; a larger answer is not a manifest.
constexpr qint64 kMaxManifestBytes = 256 * 1024;

} // namespace

QCoro::Task<> ConnectorModel::checkForUpdates(bool silent) {
    if (isCheckingForUpdates_) {
        co_return;
    }
    QPointer<ConnectorModel> self(this);
    set(isCheckingForUpdates_, true, &ConnectorModel::isCheckingForUpdatesChanged);
    if (!silent) {
        set(updateStatus_, QStringLiteral("Checking"), &ConnectorModel::updateStatusChanged);
    }

    QNetworkRequest request(options_.manifestURL);
    request.setTransferTimeout(int(options_.manifestTimeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = network_->get(request);
    const bool finished = co_await ReplyEnd(reply);
    if (!self || !finished) {
        if (finished) {
            reply->deleteLater();
        }
        co_return;
    }

    // An HTTP answer must be 2xx; an answer that is not HTTP (a file URL) only must not fail.
    std::optional<ConnectorDownloadManifest> manifest;
    const QVariant statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool good = statusCode.isValid()
                          ? (statusCode.toInt() >= 200 && statusCode.toInt() <= 299)
                          : reply->error() == QNetworkReply::NoError;
    if (good) {
        const QByteArray body = reply->read(kMaxManifestBytes + 1);
        if (body.size() <= kMaxManifestBytes) {
            manifest = decodeDownloadManifest(body);
        }
    }
    reply->deleteLater();

    if (manifest) {
        const QString runningVersion = options_.buildInfo.version.value_or(QStringLiteral("0"));
        const QString runningBuild = options_.buildInfo.build.value_or(QStringLiteral("0"));
        if (isUpdateAvailable(*manifest, runningVersion, runningBuild)) {
            ConnectorUpdateInfo info;
            info.version = manifest->version;
            info.build = manifest->build;
            info.channel = manifest->channel;
            info.sizeBytes = manifest->sizeBytes;
            info.updatedAt = manifest->updatedAt;
            info.downloadPageURL = options_.downloadPageURL;
            info.directDownloadURL = resolveDownloadFile(manifest->file, options_.manifestURL);
            set(updateInfo_, std::move(info), &ConnectorModel::updateInfoChanged);
            set(updateStatus_,
                QStringLiteral("Update available: ") + manifest->version + QStringLiteral(" (") +
                    manifest->build + QStringLiteral(")"),
                &ConnectorModel::updateStatusChanged);
        } else {
            set(updateInfo_, std::nullopt, &ConnectorModel::updateInfoChanged);
            set(updateStatus_,
                QStringLiteral("Up to date: ") + runningVersion + QStringLiteral(" (") +
                    runningBuild + QStringLiteral(")"),
                &ConnectorModel::updateStatusChanged);
        }
    } else if (!silent || updateStatus_ == QLatin1String("Not checked")) {
        // A silent check never replaces the result of an earlier good check.
        set(updateStatus_, QStringLiteral("Unable to check updates"),
            &ConnectorModel::updateStatusChanged);
    }

    set(isCheckingForUpdates_, false, &ConnectorModel::isCheckingForUpdatesChanged);
    set(lastUpdateCheckAt_, std::optional<Instant>(options_.clock()),
        &ConnectorModel::lastUpdateCheckAtChanged);
}

void ConnectorModel::openDownloadPage() {
    if (!options_.urlOpener) {
        return;
    }
    options_.urlOpener->open(updateInfo_ ? updateInfo_->downloadPageURL : options_.downloadPageURL);
}

} // namespace korvo
