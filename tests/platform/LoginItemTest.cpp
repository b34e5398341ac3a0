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
    QString autostartDir() const { return home_.filePath(QStringLiteral("config/autostart")); }
    XdgAutostartLoginItem item(const QString& exec = QStringLiteral("/usr/bin/korvo-connector")) {
        return XdgAutostartLoginItem(autostartDir(), QStringLiteral("korvo-connector.desktop"),
                                     exec);
    }
    void writeEntry(const QByteArray& contents) {
        ASSERT_TRUE(QDir().mkpath(autostartDir()));
        QFile file(autostartDir() + QStringLiteral("/korvo-connector.desktop"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QTemporaryDir home_;
};

TEST_F(LoginItemTest, MissingEntryIsOffEvenWithoutTheFolder) {
    EXPECT_FALSE(QFile::exists(autostartDir()));
    EXPECT_EQ(item().status(), Status::NotRegistered);
}

TEST_F(LoginItemTest, StatusFollowsTheEntryFlags) {
    struct Case {
        const char* name;
        QByteArray contents;
        Status expected;
    };
    const Case cases[] = {
        {"plain", "[Desktop Entry]\nType=Application\nExec=x\n", Status::Enabled},
        {"hidden", "[Desktop Entry]\nType=Application\nHidden=true\nExec=x\n",
         Status::NotRegistered},
        {"hidden false", "[Desktop Entry]\nHidden=false\n", Status::Enabled},
        {"hidden with spaces", "[Desktop Entry]\nHidden = true\n", Status::NotRegistered},
        {"gnome disabled", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n",
         Status::NotRegistered},
        {"hidden in another group", "[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n",
         Status::Enabled},
        {"empty file", "", Status::Enabled},
    };
    for (const Case& c : cases) {
        writeEntry(c.contents);
        EXPECT_EQ(item().status(), c.expected) << c.name;
    }
}

TEST_F(LoginItemTest, RegisterWritesAnEntryAndUnregisterRemovesIt) {
    auto loginItem = item();
    EXPECT_EQ(loginItem.registerItem(), std::nullopt);
    EXPECT_EQ(loginItem.status(), Status::Enabled);
    QFile file(loginItem.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray contents = file.readAll();
    EXPECT_TRUE(contents.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(contents.contains("\nType=Application\n"));
    EXPECT_TRUE(contents.contains("\nExec=\"/usr/bin/korvo-connector\"\n"));
    file.close();

    EXPECT_EQ(loginItem.unregisterItem(), std::nullopt);
    EXPECT_FALSE(QFile::exists(loginItem.entryPath()));
    EXPECT_EQ(loginItem.status(), Status::NotRegistered);
    // Removing what is not there is not a failure.
    EXPECT_EQ(loginItem.unregisterItem(), std::nullopt);
}

TEST_F(LoginItemTest, RegisterOverAHiddenEntryTurnsItOn) {
    writeEntry("[Desktop Entry]\nHidden=true\n");
    auto loginItem = item();
    EXPECT_EQ(loginItem.registerItem(), std::nullopt);
    EXPECT_EQ(loginItem.status(), Status::Enabled);
}

TEST_F(LoginItemTest, ExecPathsAreQuotedForDesktopEntries) {
    struct Case {
        QString path;
        QByteArray execLine;
    };
    const Case cases[] = {
        {QStringLiteral("/opt/Korvo Connector/bin/app"), "Exec=\"/opt/Korvo Connector/bin/app\""},
        {QStringLiteral("/a$b/c\"d`e"), "Exec=\"/a\\\\$b/c\\\\\"d\\\\`e\""},
        {QStringLiteral("/a\\b"), "Exec=\"/a\\\\\\\\b\""},
        {QStringLiteral("/100%/app"), "Exec=\"/100%%/app\""},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(item(c.path).entryContents().contains("\n" + c.execLine + "\n"))
            << c.path.toStdString() << "\n"
            << item(c.path).entryContents().toStdString();
    }
}

TEST_F(LoginItemTest, AFolderThatCannotExistIsUnavailableAndRegisteringFails) {
    // A regular file where the configuration folder should be: the autostart folder can never
    // be created, whoever runs the test.
    QFile blocker(home_.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    auto loginItem = item();
    EXPECT_EQ(loginItem.status(), Status::NotFound);
    const std::optional<QString> failure = loginItem.registerItem();
    ASSERT_TRUE(failure.has_value());
    EXPECT_FALSE(failure->isEmpty());
    EXPECT_EQ(loginItem.status(), Status::NotFound);
}

TEST_F(LoginItemTest, ForCurrentUserFollowsXdgConfigHome) {
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home_.filePath(QStringLiteral("xdg")).toUtf8());
    const auto loginItem = XdgAutostartLoginItem::forCurrentUser(QStringLiteral("/bin/true"));
    EXPECT_EQ(loginItem.entryPath(),
              home_.filePath(QStringLiteral("xdg/autostart/korvo-connector.desktop")));
    if (wasSet) {
        qputenv("XDG_CONFIG_HOME", saved);
    } else {
        qunsetenv("XDG_CONFIG_HOME");
    }
}

} // namespace
} // namespace korvo
