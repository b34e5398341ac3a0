#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <functional>
#include <optional>

namespace korvo::test {

// The desktop a test runs on, as scripts/with-sway or scripts/with-tray-host set it up: the
// screen as a picture, the pointer, the compositor's window tree, the tray's protocol on the
// session bus. Positions are in logical pixels.
class DesktopSession {
public:
    static bool wayland() { return QGuiApplication::platformName() == QLatin1String("wayland"); }
    static double scale() {
        return wayland() ? qEnvironmentVariable("KORVO_SWAY_SCALE", QStringLiteral("1")).toDouble()
                         : 1.0;
    }

    // Runs a program to its end; its standard output, or nothing when it failed.
    static std::optional<QByteArray> run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(15000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString()
                          << ": " << process.readAllStandardError().toStdString();
            return std::nullopt;
        }
        return process.readAllStandardOutput();
    }

    // The whole screen, scaled down to logical pixels: grim on Wayland, the X server's root
    // window on X11. The picture at full resolution is kept in `fullResolution` when asked.
    QImage screenshot(QImage* fullResolution = nullptr) {
        QImage shot;
        if (wayland()) {
            const QString path = dir_.filePath(QStringLiteral("screen.png"));
            if (run(QStringLiteral("grim"), {path})) {
                shot.load(path);
            }
        } else {
            shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        }
        shot = shot.convertToFormat(QImage::Format_RGB32);
        if (fullResolution) {
            *fullResolution = shot;
        }
        if (scale() != 1.0) {
            shot = shot.scaled(
                QSize(std::lround(shot.width() / scale()), std::lround(shot.height() / scale())),
                Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        return shot;
    }

    // Presses and releases a button of the pointer at a point of the screen.
    void click(QPoint at, Qt::MouseButton button) {
        const QString name =
            button == Qt::RightButton ? QStringLiteral("right") : QStringLiteral("left");
        if (wayland()) {
            run(qEnvironmentVariable("KORVO_SWAY_POINTER"),
                {QStringLiteral("click"), QString::number(at.x()), QString::number(at.y()), name});
        } else {
            run(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                 QStringLiteral("click"),
                 button == Qt::RightButton ? QStringLiteral("3") : QStringLiteral("1")});
        }
    }

    // Moves the pointer to the bottom right corner, out of the pictures' way (Wayland only: on
    // X11 the pointer is not in the pictures).
    static void park() {
        if (wayland()) {
            run(qEnvironmentVariable("KORVO_SWAY_POINTER"),
                {QStringLiteral("move"), QStringLiteral("1279"), QStringLiteral("799")});
        }
    }

    // Sway's tree of outputs, workspaces and windows.
    static QJsonObject swayTree() {
        const auto out = run(QStringLiteral("swaymsg"), {QStringLiteral("-r"), QStringLiteral("-t"),
                                                         QStringLiteral("get_tree")});
        return out ? QJsonDocument::fromJson(*out).object() : QJsonObject();
    }
    // The windows in sway's tree with this application id, floating or tiled.
    static QList<QJsonObject> swayWindows(const QString& appId) {
        QList<QJsonObject> found;
        const std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
            if (node.value(QStringLiteral("app_id")).toString() == appId) {
                found << node;
            }
            for (const char* key : {"nodes", "floating_nodes"}) {
                for (const QJsonValue& child : node.value(QLatin1String(key)).toArray()) {
                    walk(child.toObject());
                }
            }
        };
        walk(swayTree());
        return found;
    }

    // Whether the window has the keyboard focus: as sway says on Wayland (where Qt is not told),
    // as Qt says on X11.
    static bool active(const QWidget* window) {
        if (!wayland()) {
            return window->isActiveWindow();
        }
        for (const QJsonObject& found : swayWindows(QCoreApplication::applicationName())) {
            if (found.value(QStringLiteral("name")).toString() == window->windowTitle() &&
                found.value(QStringLiteral("focused")).toBool()) {
                return true;
            }
        }
        return false;
    }

    // Where two pictures of the same size differ, within `area`.
    static QRect changed(const QImage& before, const QImage& after, QRect area) {
        area &= before.rect() & after.rect();
        QRect box;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (before.pixel(x, y) != after.pixel(x, y)) {
                    box |= QRect(x, y, 1, 1);
                }
            }
        }
        return box;
    }
    // How many pixels within `area` are this colour, give or take `tolerance` per channel.
    static int count(const QImage& image, QRect area, QColor colour, int tolerance = 24) {
        int n = 0;
        area &= image.rect();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                n += std::abs(c.red() - colour.red()) <= tolerance &&
                     std::abs(c.green() - colour.green()) <= tolerance &&
                     std::abs(c.blue() - colour.blue()) <= tolerance;
            }
        }
        return n;
    }

    // Keeps a picture for the documentation when KORVO_SCREENSHOT_DIR names a folder.
    static void keep(const QImage& image, const QString& name) {
        const QString dir = qEnvironmentVariable("KORVO_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            EXPECT_TRUE(image.save(dir + QLatin1Char('/') + name)) << name.toStdString();
        }
    }

private:
    QTemporaryDir dir_;
};

// The StatusNotifierItem protocol as a tray host speaks it, on a connection of its own to the
// session bus (calls on the app's own connection would skip the wire format).
struct StatusNotifierBus {
    static QDBusConnection bus() {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                             QStringLiteral("korvo-test-tray-host"));
    }
    static QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                             const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        // The app answers from this same thread: its events go on while the call waits.
        return bus().call(message, QDBus::BlockWithGui, 5000);
    }
    static QVariant property(const QString& service, const QString& path, const QString& interface,
                             const QString& name) {
        const QDBusMessage reply =
            call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("Get"), {interface, name});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return {};
        }
        return reply.arguments().first().value<QDBusVariant>().variant();
    }

    // The items registered with the watcher, as "service/path" or "service".
    static QStringList registeredItems() {
        return property(QStringLiteral("org.kde.StatusNotifierWatcher"),
                        QStringLiteral("/StatusNotifierWatcher"),
                        QStringLiteral("org.kde.StatusNotifierWatcher"),
                        QStringLiteral("RegisteredStatusNotifierItems"))
            .toStringList();
    }

    // The registered item of this process: its bus name and object path.
    static std::optional<std::pair<QString, QString>> ownItem() {
        const QString pid = QString::number(QCoreApplication::applicationPid());
        for (const QString& item : registeredItems()) {
            const qsizetype slash = item.indexOf(QLatin1Char('/'));
            const QString service = slash < 0 ? item : item.left(slash);
            const QString path =
                slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
            const QDBusMessage reply = call(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"),
                QStringLiteral("GetConnectionUnixProcessID"), {service});
            if (!reply.arguments().isEmpty() && reply.arguments().first().toString() == pid) {
                return std::pair(service, path);
            }
        }
        return std::nullopt;
    }

    // The title of an item's tooltip: (icon name, icon pixmaps, title, description).
    static QString toolTipTitle(const std::pair<QString, QString>& item) {
        const QVariant value =
            property(item.first, item.second, QStringLiteral("org.kde.StatusNotifierItem"),
                     QStringLiteral("ToolTip"));
        if (!value.canConvert<QDBusArgument>()) {
            return {};
        }
        const QDBusArgument argument = value.value<QDBusArgument>();
        QString iconName, title;
        argument.beginStructure();
        argument >> iconName;
        argument.beginArray();
        while (!argument.atEnd()) {
            int width = 0, height = 0;
            QByteArray bytes;
            argument.beginStructure();
            argument >> width >> height >> bytes;
            argument.endStructure();
        }
        argument.endArray();
        argument >> title;
        return title;
    }

    // The visible top-level entries of an item's menu as a host reads them: label and id,
    // "--" for a separator.
    static QList<std::pair<QString, int>> menuEntries(const std::pair<QString, QString>& item) {
        const QString menu =
            property(item.first, item.second, QStringLiteral("org.kde.StatusNotifierItem"),
                     QStringLiteral("Menu"))
                .value<QDBusObjectPath>()
                .path();
        const QDBusMessage reply = call(item.first, menu, QStringLiteral("com.canonical.dbusmenu"),
                                        QStringLiteral("GetLayout"), {0, -1, QStringList()});
        QList<std::pair<QString, int>> entries;
        if (reply.arguments().size() < 2) {
            return entries;
        }
        const QDBusArgument layout = reply.arguments().at(1).value<QDBusArgument>();
        int id = 0;
        QVariantMap properties;
        layout.beginStructure();
        layout >> id >> properties;
        layout.beginArray();
        while (!layout.atEnd()) {
            QDBusVariant child;
            layout >> child;
            const QDBusArgument entry = child.variant().value<QDBusArgument>();
            entry.beginStructure();
            entry >> id >> properties;
            if (properties.value(QStringLiteral("visible"), true).toBool()) {
                entries << std::pair(properties.value(QStringLiteral("type")).toString() ==
                                             QLatin1String("separator")
                                         ? QStringLiteral("--")
                                         : properties.value(QStringLiteral("label")).toString(),
                                     id);
            }
        }
        return entries;
    }
    // What a host sends when an entry of the menu is clicked.
    static void clickEntry(const std::pair<QString, QString>& item, int id) {
        const QString menu =
            property(item.first, item.second, QStringLiteral("org.kde.StatusNotifierItem"),
                     QStringLiteral("Menu"))
                .value<QDBusObjectPath>()
                .path();
        call(item.first, menu, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
             {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0U});
    }
};

} // namespace korvo::test
