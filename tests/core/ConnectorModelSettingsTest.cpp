#include "CoreTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using Status = LoginItem::Status;
using test::ModelHarness;

TEST(ConnectorModelSettingsTest, SavingRelaySettings) {
    struct Case {
        QString typed;
        QString health;
        QString shown;                 // relayBaseURLString afterwards
        std::optional<QString> stored; // "relayBaseURL" afterwards
        QString clientBase;
    };
    const Case cases[] = {
        {QStringLiteral("  https://relay.example.com/ \n"), QStringLiteral("Saved"),
         QStringLiteral("https://relay.example.com"), QStringLiteral("https://relay.example.com"),
         QStringLiteral("https://relay.example.com/")},
        {QStringLiteral("10.0.0.5:8787"), QStringLiteral("Saved"),
         QStringLiteral("http://10.0.0.5:8787"), QStringLiteral("http://10.0.0.5:8787"),
         QStringLiteral("http://10.0.0.5:8787")},
        {QStringLiteral("https://relay.example.com/api//"), QStringLiteral("Saved"),
         QStringLiteral("https://relay.example.com/api"),
         QStringLiteral("https://relay.example.com/api"),
         QStringLiteral("https://relay.example.com/api//")},
        {QStringLiteral("   "), QStringLiteral("Invalid URL"), QStringLiteral("   "), std::nullopt,
         QStringLiteral("http://127.0.0.1:9")},
        {QStringLiteral("https://"), QStringLiteral("Invalid URL"), QStringLiteral("https://"),
         std::nullopt, QStringLiteral("http://127.0.0.1:9")},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        ConnectorModel& m = h.make();
        m.setRelayBaseURLString(c.typed);
        m.saveRelaySettings();
        EXPECT_EQ(m.relayHealthStatus(), c.health) << c.typed.toStdString();
        EXPECT_EQ(m.relayBaseURLString(), c.shown) << c.typed.toStdString();
        EXPECT_EQ(h.defaults->string(QStringLiteral("relayBaseURL")), c.stored)
            << c.typed.toStdString();
        EXPECT_EQ(m.relayClient().baseURL().toString(), c.clientBase) << c.typed.toStdString();
    }
}

TEST(ConnectorModelSettingsTest, LoginItemStatusTexts) {
    struct Case {
        Status status;
        bool enabled;
        QString text;
    };
    const Case cases[] = {
        {Status::NotRegistered, false, QStringLiteral("Off")},
        {Status::Enabled, true, QStringLiteral("On")},
        {Status::RequiresApproval, false, QStringLiteral("Needs approval in System Settings")},
        {Status::NotFound, false, QStringLiteral("Unavailable")},
        {Status(42), false, QStringLiteral("Unknown")},
    };
    ModelHarness h;
    ConnectorModel& m = h.make();
    for (const Case& c : cases) {
        h.loginItem->current = c.status;
        m.refreshLaunchAtLoginStatus();
        EXPECT_EQ(m.launchAtLoginEnabled(), c.enabled) << c.text.toStdString();
        EXPECT_EQ(m.launchAtLoginStatus(), c.text);
    }
}

TEST(ConnectorModelSettingsTest, SetLaunchAtLogin) {
    struct Case {
        const char* name;
        Status before;
        bool enable;
        std::optional<QString> failure;
        Status afterRegister;
        int registrations;
        int unregistrations;
        QString status;
        std::optional<QString> error;
    };
    const Case cases[] = {
        {"on", Status::NotRegistered, true, {}, Status::Enabled, 1, 0, QStringLiteral("On"), {}},
        {"already on", Status::Enabled, true, {}, Status::Enabled, 0, 0, QStringLiteral("On"), {}},
        {"off", Status::Enabled, false, {}, Status::Enabled, 0, 1, QStringLiteral("Off"), {}},
        {"already off",
         Status::NotRegistered,
         false,
         {},
         Status::Enabled,
         0,
         0,
         QStringLiteral("Off"),
         {}},
        {"off when unavailable",
         Status::NotFound,
         false,
         {},
         Status::Enabled,
         0,
         0,
         QStringLiteral("Unavailable"),
         {}},
        {"needs approval",
         Status::NotRegistered,
         true,
         {},
         Status::RequiresApproval,
         1,
         0,
         QStringLiteral("Needs approval in System Settings"),
         {}},
        {"approval pending, turned off",
         Status::RequiresApproval,
         false,
         {},
         Status::Enabled,
         0,
         1,
         QStringLiteral("Off"),
         {}},
        {"fails", Status::NotRegistered, true, QStringLiteral("Permission denied"), Status::Enabled,
         1, 0, QStringLiteral("Failed: Permission denied"),
         QStringLiteral("Unable to update Open at Login: Permission denied")},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        h.loginItem->current = c.before;
        h.loginItem->failure = c.failure;
        h.loginItem->afterRegister = c.afterRegister;
        ConnectorModel& m = h.make();
        m.setLaunchAtLogin(c.enable);
        EXPECT_EQ(h.loginItem->registrations, c.registrations) << c.name;
        EXPECT_EQ(h.loginItem->unregistrations, c.unregistrations) << c.name;
        EXPECT_EQ(m.launchAtLoginStatus(), c.status) << c.name;
        EXPECT_EQ(m.errorMessage(), c.error) << c.name;
    }
}

TEST(ConnectorModelSettingsTest, OpenAtLoginWithARealAutostartEntry) {
    ModelHarness h;
    auto entry = std::make_shared<XdgAutostartLoginItem>(
        h.path(QStringLiteral("config/autostart")), QStringLiteral("korvo-connector.desktop"),
        QStringLiteral("/usr/bin/korvo-connector"));
    h.options.loginItem = entry;
    ConnectorModel& m = h.make();
    m.refreshLaunchAtLoginStatus();
    EXPECT_EQ(m.launchAtLoginStatus(), QStringLiteral("Off"));
    m.setLaunchAtLogin(true);
    EXPECT_EQ(m.launchAtLoginStatus(), QStringLiteral("On"));
    EXPECT_TRUE(m.launchAtLoginEnabled());
    EXPECT_TRUE(QFile::exists(entry->entryPath()));
    m.setLaunchAtLogin(false);
    EXPECT_EQ(m.launchAtLoginStatus(), QStringLiteral("Off"));
    EXPECT_FALSE(QFile::exists(entry->entryPath()));
}

} // namespace
} // namespace korvo
