#include "PrivateBus.h"
#include "platform/PowerEvents.h"

#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
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
    ~FakeInhibitor() override {
        for (const int fd : readEnds) {
            ::close(fd);
        }
    }
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
    test::PrivateBus bus;
    ASSERT_TRUE(bus.isReady());
    FakeInhibitor logind;
    ASSERT_TRUE(bus.logindConnection().registerVirtualObject(
        QStringLiteral("/org/freedesktop/login1"), &logind));
    LogindPowerEvents events(bus.address());
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.holdsSleepDelay(); }));
    ASSERT_EQ(logind.requests.size(), 1u);
    EXPECT_EQ(logind.requests[0],
              (QVariantList{QStringLiteral("sleep"), QStringLiteral("Korvo Connector"),
                            QStringLiteral("Marks this computer as sleeping before it suspends"),
                            QStringLiteral("delay")}));

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

TEST(SleepDelayTest, WithoutInhibitSleepAndWakeStillArrive) {
    test::PrivateBus bus;
    ASSERT_TRUE(bus.isReady());
    LogindPowerEvents events(bus.address());
    QSignalSpy answered(&events, &LogindPowerEvents::sleepDelayAnswered);
    ASSERT_TRUE(answered.wait(5000));
    EXPECT_FALSE(events.holdsSleepDelay());
    QSignalSpy sleeps(&events, &PowerEvents::willSleep);
    ASSERT_TRUE(bus.prepareForSleep(true));
    EXPECT_TRUE(sleeps.wait(5000));
}

} // namespace
} // namespace korvo
