#include "platform/UserDefaults.h"

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

} // namespace
} // namespace korvo
