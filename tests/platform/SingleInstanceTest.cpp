#include "platform/SingleInstance.h"

#include "support/TestApplication.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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
