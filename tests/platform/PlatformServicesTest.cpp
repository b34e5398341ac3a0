#include "platform/PlatformServices.h"

#include "model/DeviceIdentity.h"
#include "platform/SettingsUserDefaults.h"
#include "platform/SystemHostInfo.h"
#include "platform/XdgAutostartLoginItem.h"
#include "support/TestApplication.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using Status = LoginItem::Status;

TEST(HostInfoTest, PrettyHostNameFromMachineInfoElseTheHostName) {
    const std::pair<std::string, std::string> cases[] = {
        {"PRETTY_HOSTNAME=\"Alice's Laptop\"\nICON_NAME=computer-laptop\n", "Alice's Laptop"},
        {"PRETTY_HOSTNAME='Build \"7\"'\n", "Build \"7\""},
        {"PRETTY_HOSTNAME=Office\\ Box\n", "Office Box"},
        {"PRETTY_HOSTNAME=\"Café ☕\"\n", "Café ☕"},
        {"PRETTY_HOSTNAME=\"a \\\"b\\\"\"\n", "a \"b\""},
        {"#PRETTY_HOSTNAME=Commented\n", ""},
        {"PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second\n", "Second"},
        // Trimmed of Unicode white space too: no-break and ideographic spaces.
        {"PRETTY_HOSTNAME=\"\u00A0Lab\u3000\"\n", "Lab"},
        {"", ""},
    };
    for (const auto& [machineInfo, expected] : cases) {
        EXPECT_EQ(prettyHostName(machineInfo), expected) << machineInfo;
    }
    QTemporaryDir dir;
    QFile file(dir.filePath(u"machine-info"_s));
    EXPECT_EQ(SystemHostInfo(file.fileName()).deviceName(), QSysInfo::machineHostName());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("PRETTY_HOSTNAME=\"Dev Box\"\n"));
    file.close();
    EXPECT_EQ(SystemHostInfo(file.fileName()).deviceName(), u"Dev Box"_s);
}

// The second store is the one the program makes when KORVO_SETTINGS_FILE names the file.
TEST(UserDefaultsTest, ValuesSurviveANewStoreOnTheSameFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"settings.json"_s);
    {
        SettingsUserDefaults defaults(path);
        defaults.setString(u"syncSpaceId"_s, u"space, with comma"_s);
        defaults.setString(u"connectorDeviceId"_s, u"mac_0123456789AB"_s);
        defaults.remove(u"connectorDeviceId"_s);
    }
    qputenv(PlatformServices::kSettingsFileVariable, path.toUtf8());
    const std::shared_ptr<UserDefaults> reopened = PlatformServices::userDefaults();
    qunsetenv(PlatformServices::kSettingsFileVariable);
    EXPECT_EQ(reopened->string(u"syncSpaceId"_s), u"space, with comma"_s);
    EXPECT_EQ(reopened->string(u"connectorDeviceId"_s), std::nullopt);
}

class LoginItemTest : public ::testing::Test {
protected:
    XdgAutostartLoginItem item(const QString& exec = u"/usr/bin/korvo-connector"_s) {
        return XdgAutostartLoginItem(dir_, u"korvo-connector.desktop"_s, exec);
    }
    void writeEntry(const QByteArray& contents) {
        QDir().mkpath(dir_);
        QFile file(item().entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    }

    QTemporaryDir home_;
    QString dir_ = home_.filePath(u"config/autostart"_s);
};

TEST_F(LoginItemTest, StatusFollowsTheEntryAndItsFlags) {
    EXPECT_EQ(item().status(), Status::notRegistered); // no entry, not even the folder
    const std::pair<QByteArray, Status> cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=x\n", Status::enabled},
        {"[Desktop Entry]\nType=Application\nHidden=true\nExec=x\n", Status::notRegistered},
        {"[Desktop Entry]\nHidden = true\n", Status::notRegistered},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", Status::notRegistered},
        {"[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n", Status::enabled},
    };
    for (const auto& [contents, expected] : cases) {
        writeEntry(contents);
        EXPECT_EQ(item().status(), expected) << contents.data();
    }
}

TEST_F(LoginItemTest, RegisterWritesAnEntryOverAHiddenOneAndUnregisterRemovesIt) {
    writeEntry("[Desktop Entry]\nHidden=true\n");
    auto loginItem = item();
    EXPECT_TRUE(loginItem.registerItem().ok());
    EXPECT_EQ(loginItem.status(), Status::enabled);
    QFile file(loginItem.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray contents = file.readAll();
    EXPECT_TRUE(contents.startsWith("[Desktop Entry]\n") &&
                contents.contains("\nType=Application\n"))
        << contents.data();
    EXPECT_TRUE(loginItem.unregisterItem().ok());
    EXPECT_EQ(loginItem.status(), Status::notRegistered);
}

TEST_F(LoginItemTest, ExecPathsAreQuotedForDesktopEntries) {
    const std::pair<QString, QByteArray> cases[] = {
        {u"/usr/bin/korvo-connector"_s, "Exec=\"/usr/bin/korvo-connector\""},
        {u"/opt/Korvo Connector/bin/app"_s, "Exec=\"/opt/Korvo Connector/bin/app\""},
        {u"/a$b/c\"d`e"_s, "Exec=\"/a\\\\$b/c\\\\\"d\\\\`e\""},
        {u"/a\\b"_s, "Exec=\"/a\\\\\\\\b\""},
        {u"/100%/app"_s, "Exec=\"/100%%/app\""},
    };
    for (const auto& [path, execLine] : cases) {
        const QByteArray contents = item(path).entryContents();
        EXPECT_TRUE(contents.contains("\n" + execLine + "\n")) << contents.data();
    }
}

TEST_F(LoginItemTest, ForCurrentUserFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home_.filePath(u"xdg"_s).toUtf8());
    EXPECT_EQ(XdgAutostartLoginItem::forCurrentUser(u"/bin/true"_s).entryPath(),
              home_.filePath(u"xdg/autostart/korvo-connector.desktop"_s));
    qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
} // namespace korvo
