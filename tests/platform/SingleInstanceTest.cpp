#include "platform/SingleInstance.h"

#include "support/TestApplication.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace korvo {
namespace {

using Role = SingleInstance::Role;

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { test::testApp(); }
    QTemporaryDir root_;
    QString dir_ = root_.filePath(u"run/korvo-connector"_s);
};

// A socket file left by a crash is replaced; later launches are forwarded until the first ends.
TEST_F(SingleInstanceTest, LaterLaunchesAreForwardedToTheFirstUntilItEnds) {
    ASSERT_TRUE(QDir().mkpath(dir_)); // 0755: the claim narrows it
    QFile leftover(SingleInstance(dir_).socketPath());
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    auto first = std::make_unique<SingleInstance>(dir_);
    ASSERT_EQ(first->claim(), Role::primary);
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(dir_.toStdString()).permissions() & fs::perms::all, fs::perms::owner_all);
    QSignalSpy reopened(first.get(), &SingleInstance::reopenRequested);
    for (int launch = 1; launch <= 2; ++launch) {
        EXPECT_EQ(SingleInstance(dir_).claim(), Role::forwarded);
        EXPECT_TRUE(reopened.count() == launch || reopened.wait(2000));
        EXPECT_EQ(reopened.count(), launch);
    }
    first.reset();
    EXPECT_EQ(SingleInstance(dir_).claim(), Role::primary);
}

// A later launch's activation token goes along with its request; one that is not printable
// without spaces, or too long, is left out and the request still made. A longer message, as only
// something else than the app would send, is dropped.
TEST_F(SingleInstanceTest, TheLaunchTokenGoesAlong) {
    SingleInstance first(dir_);
    ASSERT_EQ(first.claim(), Role::primary);
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    const QString longest(200, u'a');
    const struct {
        QString given, received;
    } cases[] = {
        {u""_s, u""_s},           {u"sway/1234_abc-DEF"_s, u"sway/1234_abc-DEF"_s},
        {u"with space"_s, u""_s}, {u"line\nbreak"_s, u""_s},
        {u"caf\u00e9"_s, u""_s},  {longest, longest},
        {longest + u'a', u""_s},
    };
    for (const auto& c : cases) {
        reopened.clear();
        EXPECT_EQ(SingleInstance(dir_).claim(2000, [&c] { return c.given; }), Role::forwarded);
        ASSERT_TRUE(reopened.count() == 1 || reopened.wait(2000)) << c.given;
        EXPECT_EQ(reopened.first().first().toString(), c.received) << c.given;
    }

    reopened.clear();
    QLocalSocket other;
    other.connectToServer(first.socketPath());
    ASSERT_TRUE(other.waitForConnected(2000));
    other.write("reopen " + QByteArray(300, 'a') + "\nreopen\n");
    ASSERT_TRUE(other.waitForBytesWritten(2000));
    EXPECT_FALSE(reopened.wait(300));
}

// A holder that does not answer is reported in time; an unusable folder runs unguarded.
TEST_F(SingleInstanceTest, AnUnansweringHolderOrAnUnusableFolder) {
    ASSERT_TRUE(QDir().mkpath(dir_));
    QLockFile held(dir_ + u"/instance.lock"_s);
    ASSERT_TRUE(held.tryLock(0));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(SingleInstance(dir_).claim(300), Role::unreachable);
    EXPECT_LT(clock.elapsed(), 1500);

    QFile blocker(root_.filePath(u"blocked"_s)); // a file where the folder's parent should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_EQ(SingleInstance(root_.filePath(u"blocked/korvo"_s)).claim(), Role::unguarded);
}

} // namespace
} // namespace korvo
