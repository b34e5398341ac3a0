#include "platform/PowerEvents.h"

#include "PrivateBus.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(PowerEventsTest, OnlyLogindsPrepareForSleepBecomesSleepAndWake) {
    test::PrivateBus bus;
    ASSERT_TRUE(bus.isReady());
    LogindPowerEvents events(bus.address());
    ASSERT_TRUE(events.isListening());
    QSignalSpy sleeps(&events, &PowerEvents::willSleep);
    QSignalSpy wakes(&events, &PowerEvents::didWake);
    // Each impostor signal goes first; logind's own one after it proves it was dropped.
    for (const bool sleeping : {true, false}) {
        ASSERT_TRUE(bus.prepareForSleep(sleeping, /*asImpostor=*/true));
        ASSERT_TRUE(bus.prepareForSleep(sleeping));
        ASSERT_TRUE(QTest::qWaitFor([&] { return (sleeping ? sleeps : wakes).count() == 1; }));
    }
    EXPECT_EQ(sleeps.count(), 1);
    EXPECT_EQ(wakes.count(), 1);
}

TEST(PowerEventsTest, WithoutABusNothingListens) {
    test::testApp();
    EXPECT_FALSE(LogindPowerEvents(QStringLiteral("unix:path=/nonexistent/bus")).isListening());
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/tmp/korvo-test-bus");
    EXPECT_EQ(LogindPowerEvents::systemBusAddress(), "unix:path=/tmp/korvo-test-bus");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
}

} // namespace
} // namespace korvo
