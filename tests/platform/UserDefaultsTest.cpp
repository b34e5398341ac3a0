#include "platform/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(UserDefaultsTest, ValuesSurviveANewStoreOnTheSameFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    {
        SettingsUserDefaults defaults(path);
        defaults.setString(QStringLiteral("relayBaseURL"), QStringLiteral("http://127.0.0.1:8080"));
        defaults.setString(QStringLiteral("syncSpaceId"), QStringLiteral("space, with comma"));
        defaults.setString(QStringLiteral("connectorDeviceId"), QStringLiteral("mac_0123456789AB"));
        defaults.remove(QStringLiteral("connectorDeviceId"));
    }
    SettingsUserDefaults reopened(path);
    EXPECT_EQ(reopened.string(QStringLiteral("relayBaseURL")),
              QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(reopened.string(QStringLiteral("syncSpaceId")), QStringLiteral("space, with comma"));
    EXPECT_EQ(reopened.string(QStringLiteral("connectorDeviceId")), std::nullopt);
}

// What a hand-edited or damaged settings file yields for one key.
TEST(UserDefaultsTest, OnlyPlainStringsAreRead) {
    struct Case {
        const char* line;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"syncSpaceId=space_1", QStringLiteral("space_1")},
        {"syncSpaceId=\"  padded  \"", QStringLiteral("  padded  ")},
        {"syncSpaceId=", QString()},
        {"syncSpaceId=a, b", std::nullopt}, // an unquoted comma makes a list
        {"otherKey=space_1", std::nullopt},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[General]\n") + c.line + "\n");
        file.close();
        SettingsUserDefaults defaults(path);
        EXPECT_EQ(defaults.string(QStringLiteral("syncSpaceId")), c.expected) << c.line;
    }
}

} // namespace
} // namespace korvo
