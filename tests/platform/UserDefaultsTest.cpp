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
        defaults.setString(QStringLiteral("syncSpaceId"), QStringLiteral("space, with comma"));
        defaults.setString(QStringLiteral("connectorDeviceId"), QStringLiteral("mac_0123456789AB"));
        defaults.remove(QStringLiteral("connectorDeviceId"));
    }
    SettingsUserDefaults reopened(path);
    EXPECT_EQ(reopened.string(QStringLiteral("syncSpaceId")), QStringLiteral("space, with comma"));
    EXPECT_EQ(reopened.string(QStringLiteral("connectorDeviceId")), std::nullopt);
}

// What a hand-edited or damaged settings file yields for one key.
TEST(UserDefaultsTest, OnlyPlainStringsAreRead) {
    const std::pair<const char*, std::optional<QString>> cases[] = {
        {"syncSpaceId=space_1", QStringLiteral("space_1")},
        {"syncSpaceId=\"  padded  \"", QStringLiteral("  padded  ")},
        {"syncSpaceId=", QString()},
        {"syncSpaceId=a, b", std::nullopt}, // an unquoted comma makes a list
        {"otherKey=space_1", std::nullopt},
    };
    for (const auto& [line, expected] : cases) {
        QTemporaryDir dir; // a new file each time: settings files are cached per process
        QFile file(dir.filePath(QStringLiteral("settings.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[General]\n") + line + "\n");
        file.close();
        EXPECT_EQ(SettingsUserDefaults(file.fileName()).string(QStringLiteral("syncSpaceId")),
                  expected)
            << line;
    }
}

} // namespace
} // namespace korvo
