#include "core/UpdateManifest.h"

#include "model/Utf8.h"

#include <limits>
#include <simdjson.h>
#include <vector>

namespace korvo {

namespace {

std::optional<QString> requiredString(simdjson::dom::object& object, const char* key) {
    simdjson::dom::element element;
    if (object[key].get(element) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    std::string_view text;
    if (element.get_string().get(text) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A whole number that fits a signed 64-bit integer, written as an integer or as an integral
// floating value.
std::optional<qint64> wholeNumber(const simdjson::dom::element& element) {
    int64_t signedValue = 0;
    if (element.get_int64().get(signedValue) == simdjson::SUCCESS) {
        return signedValue;
    }
    double floating = 0;
    if (element.is_double() && element.get_double().get(floating) == simdjson::SUCCESS) {
        if (floating >= -9.2e18 && floating <= 9.2e18 && floating == double(qint64(floating))) {
            return qint64(floating);
        }
    }
    return std::nullopt;
}

// The integers of a version text, split at every non-digit character; pieces too large for an
// integer are dropped.
std::vector<qint64> versionNumbers(const QString& version) {
    std::vector<qint64> numbers;
    qsizetype i = 0;
    while (i < version.size()) {
        if (version[i].unicode() < '0' || version[i].unicode() > '9') {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < version.size() && version[end].unicode() >= '0' &&
               version[end].unicode() <= '9') {
            ++end;
        }
        bool ok = false;
        const qint64 value = version.mid(i, end - i).toLongLong(&ok);
        if (ok) {
            numbers.push_back(value);
        }
        i = end;
    }
    return numbers;
}

std::optional<qint64> wholeDecimal(const QString& text) {
    qsizetype start = 0;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        start = 1;
    }
    if (start == text.size()) {
        return std::nullopt;
    }
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text[i].unicode() < '0' || text[i].unicode() > '9') {
            return std::nullopt;
        }
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

bool isAsciiDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

template <class T> int threeWay(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

std::optional<ConnectorDownloadManifest> decodeDownloadManifest(const QByteArray& json) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(json.constData(), size_t(json.size())).get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    ConnectorDownloadManifest manifest;
    const auto version = requiredString(object, "version");
    const auto build = requiredString(object, "build");
    const auto channel = requiredString(object, "channel");
    const auto file = requiredString(object, "file");
    if (!version || !build || !channel || !file) {
        return std::nullopt;
    }
    // The texts are shown in the window, the status lines and the support bundle: without
    // control characters and of a sensible length.
    const auto shown = [](const QString& text) {
        return QString::fromStdString(printableText(text.toStdString(), 256));
    };
    manifest.version = shown(*version);
    manifest.build = shown(*build);
    manifest.channel = shown(*channel);
    manifest.file = *file;

    simdjson::dom::element element;
    if (object["sizeBytes"].get(element) == simdjson::SUCCESS && !element.is_null()) {
        manifest.sizeBytes = wholeNumber(element);
        if (!manifest.sizeBytes) {
            return std::nullopt;
        }
    }
    if (object["updatedAt"].get(element) == simdjson::SUCCESS && !element.is_null()) {
        std::string_view text;
        if (element.get_string().get(text) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        manifest.updatedAt = shown(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }
    return manifest;
}

std::optional<QUrl> resolveDownloadFile(const QString& file, const QUrl& manifestURL) {
    if (file.isEmpty()) {
        return std::nullopt;
    }
    const QUrl reference(file, QUrl::StrictMode);
    if (!reference.isValid()) {
        return std::nullopt;
    }
    // The manifest's folder: its path up to and including the last "/".
    QUrl folder = manifestURL;
    const QString path = folder.path();
    folder.setPath(path.left(path.lastIndexOf(u'/') + 1));
    folder.setQuery(QString());
    folder.setFragment(QString());
    const QUrl resolved = folder.resolved(reference);
    if (!resolved.isValid() || resolved.scheme().isEmpty()) {
        return std::nullopt;
    }
    return resolved;
}

int compareNatural(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && isAsciiDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && isAsciiDigit(b[endB])) {
                ++endB;
            }
            // Compare by value without converting: drop leading zeros, then the longer run is
            // the larger number, then digit by digit.
            qsizetype startA = i;
            qsizetype startB = j;
            while (startA + 1 < endA && a[startA] == u'0') {
                ++startA;
            }
            while (startB + 1 < endB && b[startB] == u'0') {
                ++startB;
            }
            if (const int byLength = threeWay(endA - startA, endB - startB); byLength != 0) {
                return byLength;
            }
            if (const int byDigits = QStringView(a)
                                         .mid(startA, endA - startA)
                                         .compare(QStringView(b).mid(startB, endB - startB));
                byDigits != 0) {
                return byDigits < 0 ? -1 : 1;
            }
            i = endA;
            j = endB;
            continue;
        }
        const int byChar = QString::compare(QString(a[i]), QString(b[j]), Qt::CaseInsensitive);
        if (byChar != 0) {
            return byChar < 0 ? -1 : 1;
        }
        ++i;
        ++j;
    }
    return threeWay(a.size() - i, b.size() - j);
}

int compareBuilds(const QString& a, const QString& b) {
    const auto numberA = wholeDecimal(a);
    const auto numberB = wholeDecimal(b);
    if (numberA && numberB) {
        return threeWay(*numberA, *numberB);
    }
    return compareNatural(a, b);
}

int compareVersions(const QString& a, const QString& b) {
    const std::vector<qint64> left = versionNumbers(a);
    const std::vector<qint64> right = versionNumbers(b);
    const size_t count = std::max(left.size(), right.size());
    for (size_t k = 0; k < count; ++k) {
        const qint64 x = k < left.size() ? left[k] : 0;
        const qint64 y = k < right.size() ? right[k] : 0;
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

bool isUpdateAvailable(const ConnectorDownloadManifest& manifest, const QString& runningVersion,
                       const QString& runningBuild) {
    const int byBuild = compareBuilds(manifest.build, runningBuild);
    if (byBuild != 0) {
        return byBuild > 0;
    }
    return compareVersions(manifest.version, runningVersion) > 0;
}

} // namespace korvo
