#include "platform/HostInfo.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(HostInfoTest, PrettyHostNameIsReadFromMachineInfo) {
    const std::pair<QByteArray, QString> cases[] = {
        {"PRETTY_HOSTNAME=\"Alice's Laptop\"\nICON_NAME=computer-laptop\n", "Alice's Laptop"},
        {"PRETTY_HOSTNAME='Build \"7\"'\n", "Build \"7\""},
        {"PRETTY_HOSTNAME=Office\\ Box\n", "Office Box"},
        {"PRETTY_HOSTNAME=\"Café ☕\"\n", "Café ☕"},
        {"PRETTY_HOSTNAME=\"a \\\"b\\\"\"\n", "a \"b\""},
        {"#PRETTY_HOSTNAME=Commented\n", ""},
        {"PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second\n", "Second"},
        {"", ""},
    };
    for (const auto& [machineInfo, expected] : cases) {
        EXPECT_EQ(SystemHostInfo::prettyHostName(machineInfo), expected) << machineInfo.data();
    }
}

TEST(HostInfoTest, DeviceNamePrefersThePrettyNameAndFallsBackToTheHostName) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("machine-info")));
    EXPECT_EQ(SystemHostInfo(file.fileName()).deviceName(), QSysInfo::machineHostName());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PRETTY_HOSTNAME=\"Dev Box\"\n");
    file.close();
    EXPECT_EQ(SystemHostInfo(file.fileName()).deviceName(), QStringLiteral("Dev Box"));
}

} // namespace
} // namespace korvo
