#pragma once

#include "core/ConnectorState.h"
#include "model/Clock.h"
#include "platform/BuildInfo.h"

#include <QObject>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

class QNetworkAccessManager;

namespace korvo {

class UrlOpener;

// Update checks: reads the download manifest and compares it with the running build.
class UpdateChecker final : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QUrl manifestURL;
        QUrl downloadPageURL;
        // The overall time limit of the manifest request, from its start to the end of the
        // answer.
        std::chrono::milliseconds timeout;
        BuildInfo buildInfo;
        Clock clock;
        std::shared_ptr<UrlOpener> urlOpener; // may be empty: opening does nothing
        // The relay's base URL now; a download on its origin may be plain HTTP. May be empty.
        std::function<QUrl()> relayURL;
    };

    UpdateChecker(Settings settings, QNetworkAccessManager* network, QObject* parent = nullptr);

    const UpdateState& state() const { return state_; }

    // A silent check shows neither "Checking" nor a failure after an earlier good check.
    QCoro::Task<UpdateCheckOutcome> check(bool silent);
    // The offered update's download page, else the general one.
    void openDownloadPage();

Q_SIGNALS:
    void changed();

private:
    // The manifest's file as a download URL: https, or on the relay's own origin; nothing
    // (and a log line saying why) otherwise.
    std::optional<QUrl> downloadURL(const QString& file) const;

    Settings settings_;
    QNetworkAccessManager* network_;
    UpdateState state_;
};

} // namespace korvo
