#include "platform/linux/PortalAppearanceWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QThreadPool>
#include <utility>

namespace korvo {

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");

// A GTK settings file is a few lines; anything longer is not read past this.
constexpr qint64 kMaxSettingsBytes = 64 * 1024;

bool namesDarkTheme(QByteArray theme) {
    theme = theme.trimmed().toLower();
    return theme.endsWith("-dark") || theme.endsWith(":dark") || theme.endsWith("_dark");
}

std::optional<ColorScheme> gtkFilesPreference(const QString& configHome) {
    for (const char* folder : {"gtk-4.0", "gtk-3.0"}) {
        QFile file(QDir(configHome).filePath(QString::fromLatin1(folder) + u"/settings.ini"_s));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        if (const auto scheme =
                PortalAppearanceWatcher::gtkPreference(file.read(kMaxSettingsBytes))) {
            return scheme;
        }
    }
    return std::nullopt;
}

} // namespace

PortalAppearanceWatcher::PortalAppearanceWatcher(const QString& busAddress,
                                                 const QString& gtkConfigHome, QObject* parent)
    : AppearanceWatcher(parent),
      connectionName_(
          QStringLiteral("korvo-appearance-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)),
      gtkConfigHome_(gtkConfigHome) {
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName_);
    if (!bus.isConnected()) {
        readGtkPreference();
        return;
    }
    bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(onSettingChanged(QDBusMessage)));
    read(QStringLiteral("ReadOne"));
}

PortalAppearanceWatcher::~PortalAppearanceWatcher() {
    QDBusConnection::disconnectFromBus(connectionName_);
}

QString PortalAppearanceWatcher::sessionBusAddress() {
    const QString fromEnvironment = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    return u"unix:path="_s + qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/bus"_s;
}

QString PortalAppearanceWatcher::configHome() {
    const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(fromEnvironment)) {
        return fromEnvironment;
    }
    return QDir::homePath() + u"/.config"_s;
}

std::optional<ColorScheme> PortalAppearanceWatcher::gtkPreference(const QByteArray& settingsIni) {
    std::optional<bool> preferDark;
    std::optional<bool> darkTheme;
    for (const QByteArray& line : settingsIni.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed().toLower();
        if (key == "gtk-application-prefer-dark-theme") {
            preferDark = value == "1" || value == "true";
        } else if (key == "gtk-theme-name" && !value.isEmpty()) {
            darkTheme = namesDarkTheme(value);
        }
    }
    if (preferDark.value_or(false) || darkTheme.value_or(false)) {
        return ColorScheme::dark;
    }
    if (preferDark || darkTheme) {
        return ColorScheme::light;
    }
    return std::nullopt;
}

void PortalAppearanceWatcher::read(const QString& method) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, method);
    call << kAppearance << kColorScheme;
    // Asynchronous: a slow or absent portal never holds up the window.
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection(connectionName_).asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusMessage reply = finished->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    takePortalValue(reply.arguments().constFirst());
                } else if (method == u"ReadOne" &&
                           reply.errorName() == u"org.freedesktop.DBus.Error.UnknownMethod") {
                    // A portal from before ReadOne: Read gives the same value in one more variant.
                    read(QStringLiteral("Read"));
                } else {
                    readGtkPreference();
                }
            });
}

void PortalAppearanceWatcher::onSettingChanged(const QDBusMessage& signal) {
    const QVariantList arguments = signal.arguments();
    if (arguments.size() == 3 && arguments[0].toString() == kAppearance &&
        arguments[1].toString() == kColorScheme) {
        takePortalValue(arguments[2]);
    }
}

void PortalAppearanceWatcher::takePortalValue(const QVariant& value) {
    QVariant inner = value;
    // ReadOne wraps the value in one variant, Read in two.
    for (int depth = 0; depth < 3 && inner.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth) {
        inner = inner.value<QDBusVariant>().variant();
    }
    bool isNumber = false;
    const uint number = inner.toUInt(&isNumber);
    portal_ = !isNumber     ? ColorScheme::noPreference
              : number == 1 ? ColorScheme::dark
              : number == 2 ? ColorScheme::light
                            : ColorScheme::noPreference;
    if (*portal_ == ColorScheme::noPreference) {
        readGtkPreference();
        return;
    }
    setColorScheme(*portal_);
    if (!std::exchange(settled_, true)) {
        Q_EMIT settled();
    }
}

void PortalAppearanceWatcher::readGtkPreference() {
    if (const QByteArray theme = qgetenv("GTK_THEME"); !theme.isEmpty()) {
        setColorScheme(namesDarkTheme(theme) ? ColorScheme::dark : ColorScheme::light);
        if (!std::exchange(settled_, true)) {
            Q_EMIT settled();
        }
        return;
    }
    // The files are read on a worker thread; the answer comes back to the GUI thread, where
    // the watcher is looked for again in case it was deleted meanwhile.
    const QPointer<PortalAppearanceWatcher> self(this);
    QThreadPool::globalInstance()->start([self, home = gtkConfigHome_] {
        const std::optional<ColorScheme> files = gtkFilesPreference(home);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, files] {
                // The portal may have spoken in between; its word counts.
                if (!self || (self->portal_ && *self->portal_ != ColorScheme::noPreference)) {
                    return;
                }
                self->setColorScheme(files.value_or(ColorScheme::noPreference));
                if (!std::exchange(self->settled_, true)) {
                    Q_EMIT self->settled();
                }
            },
            Qt::QueuedConnection);
    });
}

} // namespace korvo
