#include "relayclient/WebViewAddress.h"

#include "relayclient/RelayClient.h"

#include <QNetworkAccessManager>

namespace korvo {

QCoro::Task<std::optional<QUrl>> webViewAddress(QUrl relayBaseURL) {
    // The address is a convenience beside the code: a short time-out keeps a slow relay from
    // holding up the pairing.
    QNetworkAccessManager network;
    RelayClient relay(&network, relayBaseURL, std::chrono::seconds(5));
    const auto health = co_await relay.health();
    if (!health.ok() || !health.value().webApp) {
        co_return std::nullopt;
    }
    const QUrl path(QString::fromStdString(*health.value().webApp));
    // Only a path on the relay itself: a relay cannot send the phone elsewhere.
    if (!path.isRelative() || !path.host().isEmpty() || !path.path().startsWith(u'/')) {
        co_return std::nullopt;
    }
    // Shown to be typed on a phone: never with the user name and password of the relay URL.
    co_return relayBaseURL.adjusted(QUrl::RemoveUserInfo).resolved(path);
}

} // namespace korvo
