#pragma once

#include <QString>
#include <QUrl>
#include <optional>

namespace korvo {

// The relay's base URL as people type it and as it is shown. The one place that knows the
// default relay, how typed text becomes a URL, and whether a URL carries data in the clear.
class RelayAddress {
public:
    static constexpr const char* kDefault = "https://relay.korvo.app";

    // How requests to a relay travel: encrypted, in the clear but only within this machine, or
    // in the clear over a network.
    enum class Transport { https, loopback, plainHttp };

    // Trimmed; a bare host ("relay.example.com", "host:8787") means https://. The result must be
    // an http or https URL with a host. Nothing otherwise.
    static std::optional<QUrl> normalized(const QString& text);

    // http:// to anything but localhost or a loopback address is plain HTTP.
    static Transport transportOf(const QUrl& url);

    // The URL for status lines and the support bundle: without user name and password. Text
    // that is not a URL at all is returned as it is.
    static QString printable(const QString& text);

    // The origin of an http(s) URL as "scheme://host:port", the port always written (443 or 80
    // when the URL has none), without user info; two URLs reach the same relay when their
    // origins are equal. Empty for anything else.
    static QString origin(const QUrl& url);
};

} // namespace korvo
