#include "platform/SystemHostInfo.h"

#include <QFile>
#include <QSysInfo>

namespace korvo {

namespace {
// machine-info is a handful of short lines.
constexpr qint64 kMaxMachineInfoBytes = 16 * 1024;

// Undoes the shell-style quoting of an environment-file value: single quotes keep everything,
// double quotes honour backslash escapes, unquoted text honours backslash escapes.
QString unquote(const QByteArray& raw) {
    QByteArray out;
    char quote = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '\\' && i + 1 < raw.size()) {
            out += raw[++i];
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else {
            out += c;
        }
    }
    return QString::fromUtf8(out);
}
} // namespace

SystemHostInfo::SystemHostInfo(QString machineInfoPath)
    : machineInfoPath_(std::move(machineInfoPath)) {}

QString SystemHostInfo::prettyHostName(const QByteArray& machineInfo) {
    QString name;
    for (const QByteArray& rawLine : machineInfo.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith("PRETTY_HOSTNAME=")) {
            // The last assignment wins, as when the file is sourced.
            name = unquote(line.mid(int(sizeof("PRETTY_HOSTNAME=")) - 1)).trimmed();
        }
    }
    return name;
}

QString SystemHostInfo::deviceName() const {
    QFile file(machineInfoPath_);
    if (file.open(QIODevice::ReadOnly)) {
        const QString pretty = prettyHostName(file.read(kMaxMachineInfoBytes));
        if (!pretty.isEmpty()) {
            return pretty;
        }
    }
    return QSysInfo::machineHostName();
}

} // namespace korvo
