// The window follows the desktop's light or dark preference while it runs, and every text it
// shows stays readable in both palettes.

#include "AppTestSupport.h"
#include "app/AppPalette.h"
#include "app/AppStyle.h"
#include "app/ConnectorWindowController.h"
#include "app/ProviderLimitRow.h"
#include "platform/AppearanceWatcher.h"
#include "platform/PlatformServices.h"
#include "support/PrivateBus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace korvo {
namespace {

// WCAG relative luminance and contrast ratio.
double luminance(const QColor& color) {
    const auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}
double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The Settings portal as xdg-desktop-portal serves it, with only the one key the window reads.
class SettingsPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 1;
    // The user switches the desktop's preference: the portal announces the new value.
    void switchTo(uint value, QDBusConnection& connection) {
        scheme = value;
        QDBusMessage changed = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
        changed << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
                << QVariant::fromValue(QDBusVariant(QVariant(value)));
        connection.send(changed);
    }
};

class CurrentSettingsPortal : public SettingsPortal {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public Q_SLOTS:
    QDBusVariant ReadOne(const QString&, const QString&) { return QDBusVariant(QVariant(scheme)); }
};

// A portal from before ReadOne: Read wraps the value in a second variant.
class OlderSettingsPortal : public SettingsPortal {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public Q_SLOTS:
    QDBusVariant Read(const QString&, const QString&) {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(scheme))));
    }
};

// Every text of the window against what it is drawn on.
void expectReadable(const QWidget* window, const char* scheme) {
    const QColor background = window->palette().color(QPalette::Window);
    int texts = 0;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty()) {
            continue;
        }
        ++texts;
        const QPalette::ColorGroup group =
            label->isEnabled() ? QPalette::Active : QPalette::Disabled;
        const QColor text = label->palette().color(group, label->foregroundRole());
        EXPECT_GE(contrast(text, background), 4.5)
            << scheme << ": \"" << label->text().toStdString() << "\" " << text.name().toStdString()
            << " on " << background.name().toStdString();
    }
    for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(window) || button->text().isEmpty()) {
            continue;
        }
        ++texts;
        const QPalette::ColorGroup group =
            button->isEnabled() ? QPalette::Active : QPalette::Disabled;
        const QColor text = button->palette().color(group, QPalette::ButtonText);
        const QColor face = button->palette().color(group, QPalette::Button);
        EXPECT_GE(contrast(text, face), 4.5)
            << scheme << ": button \"" << button->text().toStdString() << "\"";
    }
    EXPECT_GT(texts, 10) << scheme;
}

// The window's own background as drawn, away from any control.
QColor drawnBackground(QMainWindow* window) {
    return window->grab().toImage().pixelColor(2, window->height() - 3);
}

// Both palettes: the roles the window draws text in, and each state tint on the window.
TEST(ColorSchemeTest, EveryTextRoleAndTintReadsInBothPalettes) {
    for (const auto& [name, palette] :
         {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
        SCOPED_TRACE(name);
        const struct {
            QPalette::ColorGroup group;
            QPalette::ColorRole text, on;
        } pairs[] = {
            {QPalette::Active, QPalette::WindowText, QPalette::Window},
            {QPalette::Active, QPalette::Text, QPalette::Base},
            {QPalette::Active, QPalette::ButtonText, QPalette::Button},
            {QPalette::Active, QPalette::HighlightedText, QPalette::Highlight},
            {QPalette::Active, QPalette::PlaceholderText, QPalette::Base},
            {QPalette::Active, QPalette::Link, QPalette::Base},
            {QPalette::Active, QPalette::Link, QPalette::Window},
            {QPalette::Active, QPalette::ToolTipText, QPalette::ToolTipBase},
            {QPalette::Inactive, QPalette::WindowText, QPalette::Window},
            {QPalette::Disabled, QPalette::WindowText, QPalette::Window},
            {QPalette::Disabled, QPalette::ButtonText, QPalette::Button},
            {QPalette::Disabled, QPalette::Text, QPalette::Base},
        };
        for (const auto& pair : pairs) {
            EXPECT_GE(
                contrast(palette.color(pair.group, pair.text), palette.color(pair.group, pair.on)),
                4.5)
                << "role " << pair.text << " on " << pair.on << " in group " << pair.group;
        }
        for (const Tint tint :
             {Tint::green, Tint::orange, Tint::red, Tint::blue, Tint::secondary, Tint::primary}) {
            for (const QPalette::ColorRole on :
                 {QPalette::Window, QPalette::Base, QPalette::Button}) {
                EXPECT_GE(contrast(tintColor(tint, palette), palette.color(on)), 4.5)
                    << "tint " << int(tint) << " on role " << on;
            }
        }
    }
}

class ColorSchemeWindowTest : public ::testing::Test {
protected:
    ColorSchemeWindowTest() : saved_(QApplication::palette()) {
        qunsetenv("GTK_THEME");
        harness.useFixtureTools();
    }
    ~ColorSchemeWindowTest() override { QApplication::setPalette(saved_); }

    // The window with the fixture tools' rows, shown.
    QMainWindow* showWindow() {
        ConnectorModel& model = harness.make();
        controller_ = std::make_unique<ConnectorWindowController>(
            model, fixedClock(test::kFixtureNow + std::chrono::minutes(3)),
            KorvoBuildChannel::release);
        controller_->show();
        QMainWindow* window = controller_->window();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return window->findChildren<ProviderLimitRow*>().size() == 2; }));
        return window;
    }
    // The platform's watcher, on the test's bus and with the test's GTK settings folder.
    std::unique_ptr<AppearanceWatcher> desktopAppearance() {
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
        qputenv("XDG_CONFIG_HOME", gtkHome.path().toUtf8());
        auto watcher = PlatformServices::appearanceWatcher();
        qputenv("DBUS_SESSION_BUS_ADDRESS", savedBus_);
        qputenv("XDG_CONFIG_HOME", savedConfig_);
        return watcher;
    }
    void TearDown() override {
        if (controller_) {
            harness.model().stopAutoSync();
        }
    }

    test::ModelHarness harness{test::HarnessBuild::release};
    test::PrivateBus bus;
    QTemporaryDir gtkHome;

private:
    QPalette saved_;
    QByteArray savedBus_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QByteArray savedConfig_ = qgetenv("XDG_CONFIG_HOME");
    std::unique_ptr<ConnectorWindowController> controller_;
};

// The desktop is dark when the window opens, the user switches it to light and back while the
// window is open: the window is redrawn each time, and every text stays readable.
TEST_F(ColorSchemeWindowTest, FollowsThePortalWhileRunning) {
    for (const bool older : {false, true}) {
        SCOPED_TRACE(older ? "Read" : "ReadOne");
        std::unique_ptr<SettingsPortal> portal =
            older ? std::unique_ptr<SettingsPortal>(std::make_unique<OlderSettingsPortal>())
                  : std::make_unique<CurrentSettingsPortal>();
        QDBusConnection connection = bus.connection(older ? "older-portal" : "portal");
        ASSERT_TRUE(connection.registerObject(
            QStringLiteral("/org/freedesktop/portal/desktop"), portal.get(),
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

        const auto watcher = desktopAppearance();
        ColorSchemeFollower follower(*watcher);
        QMainWindow* window = showWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return drawnBackground(window).lightness() < 60; }))
            << drawnBackground(window).name().toStdString();
        expectReadable(window, "dark");

        portal->switchTo(2, connection);
        ASSERT_TRUE(QTest::qWaitFor([&] { return drawnBackground(window).lightness() > 200; }))
            << drawnBackground(window).name().toStdString();
        expectReadable(window, "light");

        portal->switchTo(1, connection);
        ASSERT_TRUE(QTest::qWaitFor([&] { return drawnBackground(window).lightness() < 60; }));
        expectReadable(window, "dark again");

        connection.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        connection.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
    }
}

// No portal on the bus: GTK's own setting decides.
TEST_F(ColorSchemeWindowTest, WithoutAPortalTheGtkSettingDecides) {
    ASSERT_TRUE(QDir(gtkHome.path()).mkpath(QStringLiteral("gtk-3.0")));
    QFile ini(gtkHome.filePath(QStringLiteral("gtk-3.0/settings.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Settings]\ngtk-theme-name=Adwaita\ngtk-application-prefer-dark-theme=1\n");
    ini.close();
    const auto watcher = desktopAppearance();
    ColorSchemeFollower follower(*watcher);
    QMainWindow* window = showWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return drawnBackground(window).lightness() < 60; }))
        << drawnBackground(window).name().toStdString();
    expectReadable(window, "dark");
}

} // namespace
} // namespace korvo

#include "ColorSchemeTest.moc"
