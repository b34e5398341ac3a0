#include "relayclient/RelayAddress.h"

#include <QHostAddress>

namespace korvo {

std::optional<QUrl> RelayAddress::normalized(const QString& text) {
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    if (!trimmed.contains(QLatin1String("://"))) {
        trimmed.prepend(QLatin1String("https://"));
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        return std::nullopt;
    }
    return url;
}

RelayAddress::Transport RelayAddress::transportOf(const QUrl& url) {
    if (url.scheme() == QLatin1String("https")) {
        return Transport::https;
    }
    const QString host = url.host().toLower();
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")) ||
        QHostAddress(host).isLoopback()) {
        return Transport::loopback;
    }
    return Transport::plainHttp;
}

QString RelayAddress::printable(const QString& text) {
    const QUrl url = normalized(text).value_or(QUrl(text.trimmed(), QUrl::TolerantMode));
    if (!url.isValid() || url.userInfo().isEmpty()) {
        return text;
    }
    return url.adjusted(QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded);
}

QString RelayAddress::origin(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        return {};
    }
    QUrl origin;
    origin.setScheme(scheme);
    origin.setHost(url.host().toLower());
    origin.setPort(url.port(scheme == QLatin1String("https") ? 443 : 80));
    return origin.toString(QUrl::FullyEncoded);
}

} // namespace korvo
