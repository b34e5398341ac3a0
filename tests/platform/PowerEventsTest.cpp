#include "platform/PowerEvents.h"

#include "PrivateBus.h"
#include "TestApp.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace korvo {
namespace {

class PowerEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::testApp();
        ASSERT_TRUE(bus_.isRunning());
        ASSERT_TRUE(bus_.becomeLogind());
    }
    test::PrivateBus bus_;
};

TEST_F(PowerEventsTest, PrepareForSleepBecomesSleepAndWake) {
    LogindPowerEvents events(bus_.address());
    ASSERT_TRUE(events.isListening());
    QSignalSpy sleeps(&events, &PowerEvents::willSleep);
    QSignalSpy wakes(&events, &PowerEvents::didWake);

    ASSERT_TRUE(bus_.prepareForSleep(true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sleeps.count() == 1; }, 5000));
    EXPECT_EQ(wakes.count(), 0);

    ASSERT_TRUE(bus_.prepareForSleep(false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return wakes.count() == 1; }, 5000));
    EXPECT_EQ(sleeps.count(), 1);
}

TEST_F(PowerEventsTest, SignalsFromOtherSendersAreIgnored) {
    LogindPowerEvents events(bus_.address());
    QSignalSpy sleeps(&events, &PowerEvents::willSleep);
    QSignalSpy wakes(&events, &PowerEvents::didWake);

    ASSERT_TRUE(bus_.prepareForSleepAsImpostor(true));
    // logind's own signal sent afterwards proves the impostor's was delivered and dropped.
    ASSERT_TRUE(bus_.prepareForSleep(false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return wakes.count() == 1; }, 5000));
    EXPECT_EQ(sleeps.count(), 0);
}

TEST(PowerEventsWithoutBusTest, NoBusMeansNoEvents) {
    test::testApp();
    LogindPowerEvents events(QStringLiteral("unix:path=/nonexistent/korvo-no-bus"));
    EXPECT_FALSE(events.isListening());
}

TEST(PowerEventsWithoutBusTest, SystemBusAddressComesFromTheEnvironment) {
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/tmp/korvo-test-bus");
    EXPECT_EQ(LogindPowerEvents::systemBusAddress(),
              QStringLiteral("unix:path=/tmp/korvo-test-bus"));
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_EQ(LogindPowerEvents::systemBusAddress(),
              QStringLiteral("unix:path=/run/dbus/system_bus_socket"));
    if (!saved.isEmpty()) {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
    }
}

} // namespace
} // namespace korvo
