#include "platform/UserDefaults.h"

#include "model/SettingsNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QSettings>
#include <QVariant>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {

namespace {

// The settings file is readable by the user only: the relay URL in it may hold a password.
// QSettings replaces the file with a new one that keeps the permissions of the one it replaces,
// so a file that is there before the first write, created 0600, stays so. With `create` a missing
// file is created (empty, which QSettings reads as no values); an existing one readable by others
// is narrowed either way.
void keepPrivate(const QString& fileName, bool create) {
    if (fileName.isEmpty()) {
        return;
    }
    if (create) {
        QDir().mkpath(QFileInfo(fileName).absolutePath());
    }
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0),
                          S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        ::fchmod(fd, status.st_mode & S_IRWXU);
    }
    ::close(fd);
}

} // namespace

SettingsUserDefaults::SettingsUserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            kSettingsOrganization, kSettingsApplication)) {
    keepPrivate(settings_->fileName(), false);
}

SettingsUserDefaults::SettingsUserDefaults(const QString& iniFilePath)
    : settings_(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat)) {
    keepPrivate(settings_->fileName(), false);
}

SettingsUserDefaults::~SettingsUserDefaults() = default;

std::optional<QString> SettingsUserDefaults::string(const QString& key) const {
    const QVariant value = settings_->value(key);
    // A hand-edited file can hold a list or a group under a key; only a plain string counts.
    if (!value.isValid() || value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

void SettingsUserDefaults::setString(const QString& key, const QString& value) {
    settings_->setValue(key, value);
    keepPrivate(settings_->fileName(), true);
    settings_->sync();
}

void SettingsUserDefaults::remove(const QString& key) {
    settings_->remove(key);
    keepPrivate(settings_->fileName(), true);
    settings_->sync();
}

QString SettingsUserDefaults::fileName() const {
    return settings_->fileName();
}

} // namespace korvo
