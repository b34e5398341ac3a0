#include "core/UpdateChecker.h"

#include "core/LogCategories.h"
#include "core/StateUpdate.h"
#include "platform/UrlOpener.h"
#include "relayclient/BoundedReply.h"
#include "relayclient/ReplyDeadline.h"
#include "relayclient/ReplyEnd.h"
#include "model/Utf8.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

namespace korvo {

namespace {

// The manifest is a few hundred bytes; a larger answer is not a manifest.
constexpr qint64 kMaxManifestBytes = 256 * 1024;

bool sameOrigin(const QUrl& a, const QUrl& b) {
    const auto defaultPort = [](const QUrl& url) {
        return url.scheme() == QLatin1String("https") ? 443 : 80;
    };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

} // namespace

UpdateChecker::UpdateChecker(Settings settings, QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), network_(network) {}

QCoro::Task<UpdateCheckOutcome> UpdateChecker::check(bool silent) {
    if (state_.isChecking) {
        co_return UpdateCheckOutcome::alreadyRunning;
    }
    QPointer<UpdateChecker> self(this);
    updateState(*this, state_, [&](UpdateState& updates) {
        updates.isChecking = true;
        if (!silent) {
            updates.phase = UpdateState::Phase::checking;
        }
    });

    QNetworkRequest request(settings_.manifestURL);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = network_->get(request);
    // Read while it arrives; a longer answer is aborted, not buffered. An answer not whole within
    // the time limit is aborted too, however it trickles in.
    BoundedReply bounded(reply, kMaxManifestBytes);
    const ReplyDeadline deadline(reply, settings_.timeout);
    const bool finished = co_await ReplyEnd(reply);
    if (!self || !finished) {
        if (finished) {
            reply->deleteLater();
        }
        co_return UpdateCheckOutcome::failed;
    }

    // An HTTP answer must be 2xx; an answer that is not HTTP (a file URL) only must not fail.
    std::optional<ConnectorDownloadManifest> manifest;
    const QVariant statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool good = statusCode.isValid()
                          ? (statusCode.toInt() >= 200 && statusCode.toInt() <= 299)
                          : reply->error() == QNetworkReply::NoError;
    const QByteArray body = bounded.take();
    QString failure;
    if (!good) {
        failure = statusCode.isValid()
                      ? QStringLiteral("the download site answered HTTP %1").arg(statusCode.toInt())
                      : QStringLiteral("the download site could not be reached");
    }
    if (bounded.tooLarge()) {
        failure = QStringLiteral("the download manifest is too large");
        qCWarning(lcUpdates) << "update check: the manifest is larger than" << kMaxManifestBytes
                             << "bytes; the transfer was stopped";
    } else if (deadline.expired()) {
        qCInfo(lcUpdates) << "update check: no whole answer within" << settings_.timeout.count()
                          << "ms; the transfer was stopped";
    } else if (good) {
        manifest = decodeDownloadManifest(body);
        if (!manifest) {
            failure = QStringLiteral("the download manifest could not be read");
        }
    }
    reply->deleteLater();

    UpdateCheckOutcome outcome = UpdateCheckOutcome::failed;
    UpdateState next = state_;
    if (manifest) {
        const QString runningVersion = settings_.buildInfo.version.value_or(QStringLiteral("0"));
        const QString runningBuild = settings_.buildInfo.build.value_or(QStringLiteral("0"));
        if (isUpdateAvailable(*manifest, runningVersion, runningBuild)) {
            ConnectorUpdateInfo info;
            info.version = manifest->version;
            info.build = manifest->build;
            info.channel = manifest->channel;
            info.sizeBytes = manifest->sizeBytes;
            info.updatedAt = manifest->updatedAt;
            info.downloadPageURL = settings_.downloadPageURL;
            info.directDownloadURL = downloadURL(manifest->file);
            next.info = std::move(info);
            next.phase = UpdateState::Phase::available;
            next.version = manifest->version;
            next.build = manifest->build;
            outcome = UpdateCheckOutcome::available;
        } else {
            next.info.reset();
            next.phase = UpdateState::Phase::upToDate;
            next.version = runningVersion;
            next.build = runningBuild;
            outcome = UpdateCheckOutcome::upToDate;
        }
    } else if (!silent || next.phase == UpdateState::Phase::notChecked) {
        // A silent check never replaces the result of an earlier good check.
        next.phase = UpdateState::Phase::failed;
        next.failure = failure;
    }
    qCDebug(lcUpdates) << "update check:"
                       << (outcome == UpdateCheckOutcome::available  ? "update available"
                           : outcome == UpdateCheckOutcome::upToDate ? "up to date"
                                                                     : "failed");
    next.isChecking = false;
    next.lastCheckAt = settings_.clock();
    updateState(*this, state_, [&](UpdateState& updates) { updates = std::move(next); });
    co_return outcome;
}

std::optional<QUrl> UpdateChecker::downloadURL(const QString& file) const {
    const std::optional<QUrl> url = resolveDownloadFile(file, settings_.manifestURL);
    if (!url) {
        return std::nullopt;
    }
    if (url->scheme() == QLatin1String("https") ||
        (settings_.relayURL && sameOrigin(*url, settings_.relayURL()))) {
        return url;
    }
    qCWarning(lcUpdates).noquote()
        << "update check: the manifest's download URL"
        << QString::fromStdString(printableText(
               url->adjusted(QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded).toStdString(), 200))
        << "is ignored: a download must use https:// or the relay's own address";
    return std::nullopt;
}

void UpdateChecker::openDownloadPage() {
    if (settings_.urlOpener) {
        settings_.urlOpener->open(state_.info ? state_.info->downloadPageURL
                                              : settings_.downloadPageURL);
    }
}

} // namespace korvo
