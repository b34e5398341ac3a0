#include "platform/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using Status = LoginItem::Status;

class LoginItemTest : public ::testing::Test {
protected:
    XdgAutostartLoginItem item(const QString& exec = QStringLiteral("/usr/bin/korvo-connector")) {
        return XdgAutostartLoginItem(dir_, QStringLiteral("korvo-connector.desktop"), exec);
    }
    void writeEntry(const QByteArray& contents) {
        QDir().mkpath(dir_);
        QFile file(item().entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QTemporaryDir home_;
    QString dir_ = home_.filePath(QStringLiteral("config/autostart"));
};

TEST_F(LoginItemTest, StatusFollowsTheEntryAndItsFlags) {
    EXPECT_EQ(item().status(), Status::NotRegistered); // no entry, not even the folder
    const std::pair<QByteArray, Status> cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=x\n", Status::Enabled},
        {"[Desktop Entry]\nType=Application\nHidden=true\nExec=x\n", Status::NotRegistered},
        {"[Desktop Entry]\nHidden = true\n", Status::NotRegistered},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", Status::NotRegistered},
        {"[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n", Status::Enabled},
    };
    for (const auto& [contents, expected] : cases) {
        writeEntry(contents);
        EXPECT_EQ(item().status(), expected) << contents.data();
    }
}

TEST_F(LoginItemTest, RegisterWritesAnEntryOverAHiddenOneAndUnregisterRemovesIt) {
    writeEntry("[Desktop Entry]\nHidden=true\n");
    auto loginItem = item();
    EXPECT_EQ(loginItem.registerItem(), std::nullopt);
    EXPECT_EQ(loginItem.status(), Status::Enabled);
    QFile file(loginItem.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray contents = file.readAll();
    EXPECT_TRUE(contents.startsWith("[Desktop Entry]\n")) << contents.data();
    EXPECT_TRUE(contents.contains("\nType=Application\n")) << contents.data();
    EXPECT_TRUE(contents.contains("\nExec=\"/usr/bin/korvo-connector\"\n")) << contents.data();

    EXPECT_EQ(loginItem.unregisterItem(), std::nullopt);
    EXPECT_FALSE(QFile::exists(loginItem.entryPath()));
    EXPECT_EQ(loginItem.status(), Status::NotRegistered);
    EXPECT_EQ(loginItem.unregisterItem(), std::nullopt); // nothing to remove is no failure
}

TEST_F(LoginItemTest, ExecPathsAreQuotedForDesktopEntries) {
    const std::pair<QString, QByteArray> cases[] = {
        {QStringLiteral("/opt/Korvo Connector/bin/app"), "Exec=\"/opt/Korvo Connector/bin/app\""},
        {QStringLiteral("/a$b/c\"d`e"), "Exec=\"/a\\\\$b/c\\\\\"d\\\\`e\""},
        {QStringLiteral("/a\\b"), "Exec=\"/a\\\\\\\\b\""},
        {QStringLiteral("/100%/app"), "Exec=\"/100%%/app\""},
    };
    for (const auto& [path, execLine] : cases) {
        const QByteArray contents = item(path).entryContents();
        EXPECT_TRUE(contents.contains("\n" + execLine + "\n")) << contents.data();
    }
}

TEST_F(LoginItemTest, ForCurrentUserFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home_.filePath(QStringLiteral("xdg")).toUtf8());
    EXPECT_EQ(XdgAutostartLoginItem::forCurrentUser(QStringLiteral("/bin/true")).entryPath(),
              home_.filePath(QStringLiteral("xdg/autostart/korvo-connector.desktop")));
    qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
} // namespace korvo
