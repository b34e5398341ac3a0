#include "platform/XdgAutostartLoginItem.h"

#include "platform/PlatformLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace korvo {

namespace {

// An autostart entry is a few hundred bytes; anything longer than this is not ours to parse.
constexpr qint64 kMaxEntryBytes = 64 * 1024;

// Quotes an argument for the Exec key of a desktop entry. Inside double quotes '"', '`', '$' and
// '\' are escaped with a backslash; the value is also a desktop-entry string whose own escaping
// is undone first, so every such backslash is written doubled. A literal '%' is written "%%".
QString quoteExecArgument(const QString& argument) {
    QString quoted;
    quoted.reserve(argument.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            quoted += QLatin1String("\\\\\\\\");
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')) {
            quoted += QLatin1String("\\\\");
        } else if (c == QLatin1Char('%')) {
            quoted += QLatin1Char('%');
        }
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

struct EntryFlags {
    bool hidden = false;
    bool gnomeDisabled = false;
};

// Reads the [Desktop Entry] group's Hidden and X-GNOME-Autostart-enabled keys.
EntryFlags parseEntry(const QByteArray& contents) {
    EntryFlags flags;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden") {
            flags.hidden = value == "true";
        } else if (key == "X-GNOME-Autostart-enabled") {
            flags.gnomeDisabled = value == "false";
        }
    }
    return flags;
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString autostartDir, QString fileName,
                                             QString executablePath)
    : autostartDir_(std::move(autostartDir)), fileName_(std::move(fileName)),
      executablePath_(std::move(executablePath)) {}

XdgAutostartLoginItem XdgAutostartLoginItem::forCurrentUser(const QString& executablePath) {
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return XdgAutostartLoginItem(configHome + QStringLiteral("/autostart"),
                                 QStringLiteral("korvo-connector.desktop"), executablePath);
}

QString XdgAutostartLoginItem::entryPath() const {
    return QDir(autostartDir_).filePath(fileName_);
}

QByteArray XdgAutostartLoginItem::entryContents() const {
    QByteArray contents;
    contents += "[Desktop Entry]\n";
    contents += "Type=Application\n";
    contents += "Name=Korvo Connector\n";
    contents += "Comment=Uploads sanitized AI coding tool usage to your phone\n";
    contents += "Exec=" + quoteExecArgument(executablePath_).toUtf8() + "\n";
    contents += "Terminal=false\n";
    contents += "X-GNOME-Autostart-enabled=true\n";
    return contents;
}

bool XdgAutostartLoginItem::folderWritable() const {
    // The folder may not exist yet; then the closest existing ancestor decides.
    QFileInfo info(autostartDir_);
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath()) {
            return false;
        }
        info = QFileInfo(parent);
    }
    return info.isDir() && info.isWritable();
}

LoginItem::Status XdgAutostartLoginItem::status() const {
    QFile file(entryPath());
    if (!file.exists()) {
        return folderWritable() ? Status::notRegistered : Status::notFound;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::notFound;
    }
    const EntryFlags flags = parseEntry(file.read(kMaxEntryBytes));
    if (flags.hidden || flags.gnomeDisabled) {
        return Status::notRegistered;
    }
    return Status::enabled;
}

Result<std::monostate, QString> XdgAutostartLoginItem::registerItem() {
    Result<std::monostate, QString> written = writeEntry();
    if (!written.ok()) {
        qCInfo(lcPlatform).noquote()
            << "login item: writing" << entryPath() << "failed:" << written.error();
    } else {
        qCDebug(lcPlatform).noquote() << "login item: wrote" << entryPath();
    }
    return written;
}

Result<std::monostate, QString> XdgAutostartLoginItem::writeEntry() const {
    using Written = Result<std::monostate, QString>;
    if (!QDir().mkpath(autostartDir_)) {
        return Written::failure(
            QStringLiteral("Could not create the folder %1.").arg(autostartDir_));
    }
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly)) {
        return Written::failure(file.errorString());
    }
    file.write(entryContents());
    if (!file.commit()) {
        return Written::failure(file.errorString());
    }
    return std::monostate{};
}

Result<std::monostate, QString> XdgAutostartLoginItem::unregisterItem() {
    QFile file(entryPath());
    if (!file.exists()) {
        return std::monostate{};
    }
    if (!file.remove()) {
        qCInfo(lcPlatform).noquote()
            << "login item: removing" << entryPath() << "failed:" << file.errorString();
        return Result<std::monostate, QString>::failure(file.errorString());
    }
    qCDebug(lcPlatform).noquote() << "login item: removed" << entryPath();
    return std::monostate{};
}

} // namespace korvo
