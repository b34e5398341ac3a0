#include "platform/HostInfo.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(HostInfoTest, PrettyHostNameIsReadFromMachineInfo) {
    struct Case {
        QByteArray machineInfo;
        QString expected;
    };
    const Case cases[] = {
        {"PRETTY_HOSTNAME=\"Alice's Laptop\"\nICON_NAME=computer-laptop\n",
         QStringLiteral("Alice's Laptop")},
        {"PRETTY_HOSTNAME='Build \"7\"'\n", QStringLiteral("Build \"7\"")},
        {"PRETTY_HOSTNAME=Office\\ Box\n", QStringLiteral("Office Box")},
        {"PRETTY_HOSTNAME=\"Café ☕\"\n", QStringLiteral("Café ☕")},
        {"PRETTY_HOSTNAME=\"a \\\"b\\\"\"\n", QStringLiteral("a \"b\"")},
        {"CHASSIS=laptop\n", QString()},
        {"PRETTY_HOSTNAME=\n", QString()},
        {"#PRETTY_HOSTNAME=Commented\n", QString()},
        {"PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second\n", QStringLiteral("Second")},
        {"", QString()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SystemHostInfo::prettyHostName(c.machineInfo), c.expected)
            << c.machineInfo.toStdString();
    }
}

TEST(HostInfoTest, DeviceNamePrefersThePrettyNameAndFallsBackToTheHostName) {
    QTemporaryDir dir;
    const QString withName = dir.filePath(QStringLiteral("with-name"));
    QFile file(withName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PRETTY_HOSTNAME=\"Dev Box\"\n");
    file.close();
    EXPECT_EQ(SystemHostInfo(withName).deviceName(), QStringLiteral("Dev Box"));

    const QString missing = dir.filePath(QStringLiteral("missing"));
    EXPECT_EQ(SystemHostInfo(missing).deviceName(), QSysInfo::machineHostName());
}

} // namespace
} // namespace korvo
