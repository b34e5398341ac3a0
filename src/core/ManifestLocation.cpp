#include "core/ManifestLocation.h"

#include "platform/UserDefaults.h"

namespace korvo {

namespace {

std::optional<QUrl> usableURL(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        return std::nullopt;
    }
    return url;
}

} // namespace

QUrl manifestURL(const QUrl& defaultURL, const Environment& environment,
                 const UserDefaults* settings) {
    if (environment) {
        if (const auto value = environment(kManifestURLVariable)) {
            if (const auto url = usableURL(QString::fromStdString(*value))) {
                return *url;
            }
        }
    }
    if (settings) {
        if (const auto value = settings->string(QString::fromLatin1(kManifestURLKey))) {
            if (const auto url = usableURL(*value)) {
                return *url;
            }
        }
    }
    return defaultURL;
}

} // namespace korvo
