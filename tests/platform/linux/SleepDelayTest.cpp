#include "LogindBus.h"
#include "platform/linux/LogindPowerEvents.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace korvo {
namespace {

// logind's Inhibit: hands out the write end of a pipe; the lock is held until every copy of it
// is closed, which the read end sees as a hang-up.
class FakeInhibitor : public QDBusVirtualObject {
public:
    ~FakeInhibitor() override { std::for_each(readEnds.begin(), readEnds.end(), ::close); }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Inhibit")) {
            return false;
        }
        requests.push_back(message.arguments());
        int ends[2];
        if (::pipe(ends) != 0) {
            return false;
        }
        readEnds.push_back(ends[0]);
        const QDBusUnixFileDescriptor lock(ends[1]); // keeps a copy of its own
        ::close(ends[1]);
        connection.send(message.createReply(QVariant::fromValue(lock)));
        return true;
    }
    bool released(std::size_t lock) const {
        pollfd check{readEnds.at(lock), POLLIN, 0};
        return ::poll(&check, 1, 0) == 1 && (check.revents & (POLLHUP | POLLIN)) != 0;
    }

    std::vector<QVariantList> requests;
    std::vector<int> readEnds;
};

TEST(SleepDelayTest, SleepWaitsUntilTheAnnouncementWasHandledAndTheLockReturnsAfterWake) {
    test::LogindBus bus;
    ASSERT_TRUE(bus.isReady());
    FakeInhibitor logind;
    ASSERT_TRUE(
        bus.logindConnection().registerVirtualObject(u"/org/freedesktop/login1"_s, &logind));
    LogindPowerEvents events(bus.address());
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.holdsSleepDelay(); }));
    ASSERT_EQ(logind.requests.size(), 1u);
    EXPECT_EQ(logind.requests[0],
              (QVariantList{u"sleep"_s, u"Korvo Connector"_s,
                            u"Marks this computer as sleeping before it suspends"_s, u"delay"_s}));

    // A receiver that, like the application, handles the announcement one turn later.
    bool heldWhileHandled = false;
    QObject::connect(&events, &PowerEvents::willSleep, [&] {
        QTimer::singleShot(0, [&] { heldWhileHandled = !logind.released(0); });
    });
    ASSERT_TRUE(bus.prepareForSleep(true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !events.holdsSleepDelay(); }));
    EXPECT_TRUE(heldWhileHandled);
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.released(0); }));

    ASSERT_TRUE(bus.prepareForSleep(false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.holdsSleepDelay(); }));
    EXPECT_EQ(logind.requests.size(), 2u);
    EXPECT_FALSE(logind.released(1));
}

// Without logind's Inhibit, and with impostors sending the same signal first, only logind's own
// announcements arrive; without a bus nothing listens.
TEST(PowerEventsTest, OnlyLogindsPrepareForSleepBecomesSleepAndWake) {
    test::LogindBus bus;
    ASSERT_TRUE(bus.isReady());
    EXPECT_FALSE(LogindPowerEvents(u"unix:path=/nonexistent/bus"_s).isListening());
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
    EXPECT_EQ(LogindPowerEvents::systemBusAddress(), bus.address());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
    LogindPowerEvents events(bus.address());
    ASSERT_TRUE(events.isListening());
    QSignalSpy answered(&events, &LogindPowerEvents::sleepDelayAnswered);
    ASSERT_TRUE(answered.wait(5000));
    EXPECT_FALSE(events.holdsSleepDelay());
    QSignalSpy sleeps(&events, &PowerEvents::willSleep);
    QSignalSpy wakes(&events, &PowerEvents::didWake);
    for (const bool sleeping : {true, false}) {
        ASSERT_TRUE(bus.prepareForSleep(sleeping, /*asImpostor=*/true));
        ASSERT_TRUE(bus.prepareForSleep(sleeping));
        ASSERT_TRUE(QTest::qWaitFor([&] { return (sleeping ? sleeps : wakes).count() == 1; }));
    }
    EXPECT_EQ(sleeps.count(), 1);
    EXPECT_EQ(wakes.count(), 1);
}

} // namespace
} // namespace korvo
