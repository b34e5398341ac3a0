#include "platform/linux/FreedesktopNotifier.h"

#include "support/PrivateBus.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTest>
#include <gtest/gtest.h>

namespace korvo {
namespace {

// A notification server on the private bus: keeps each Notify call's arguments and answers
// with an id, as a desktop's notification daemon does.
class NotificationServer final : public QDBusVirtualObject {
public:
    explicit NotificationServer(QDBusConnection bus) : bus_(std::move(bus)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != u"org.freedesktop.Notifications"_s ||
            message.member() != u"Notify"_s) {
            return false;
        }
        calls.push_back(message.arguments());
        connection.send(message.createReply(QVariant::fromValue(uint(calls.size()))));
        return true;
    }
    bool serve() {
        return bus_.registerService(u"org.freedesktop.Notifications"_s) &&
               bus_.registerVirtualObject(u"/org/freedesktop/Notifications"_s, this);
    }
    std::vector<QVariantList> calls;

private:
    QDBusConnection bus_;
};

TEST(FreedesktopNotifierTest, NotifiesTheServerOnTheSessionBus) {
    test::PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    NotificationServer server(QDBusConnection::connectToBus(bus.address(), u"notifications"_s));
    QDBusConnection client = QDBusConnection::connectToBus(bus.address(), u"connector"_s);

    // Nobody serves notifications yet: the call goes nowhere and nothing waits for it.
    FreedesktopNotifier notifier(client);
    notifier.notify(u"Codex CLI: 18% remaining"_s, u"Below 20% of the weekly window."_s);
    ASSERT_TRUE(server.serve());
    notifier.notify(u"Codex CLI: 4% remaining"_s, u"Below 5% of the weekly window."_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.calls.empty(); }));
    QTest::qWait(50);
    ASSERT_EQ(server.calls.size(), 1U);
    const QVariantList& args = server.calls.front();
    ASSERT_EQ(args.size(), 8);
    EXPECT_EQ(args[0].toString(), u"Korvo Connector"_s);
    EXPECT_EQ(args[2].toString(), u"korvo-connector"_s);
    EXPECT_EQ(args[3].toString(), u"Codex CLI: 4% remaining"_s);
    EXPECT_EQ(args[4].toString(), u"Below 5% of the weekly window."_s);
    EXPECT_EQ(args[7].toInt(), -1);

    // Without a bus at all, notifying is harmless.
    FreedesktopNotifier(QDBusConnection::connectToBus(u"unix:path=/nonexistent"_s, u"none"_s))
        .notify(u"x"_s, u"y"_s);
    QDBusConnection::disconnectFromBus(u"notifications"_s);
    QDBusConnection::disconnectFromBus(u"connector"_s);
    QDBusConnection::disconnectFromBus(u"none"_s);
}

} // namespace
} // namespace korvo
