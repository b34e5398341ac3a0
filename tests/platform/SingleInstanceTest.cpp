#include "platform/SingleInstance.h"

#include "PrivateBus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace korvo {
namespace {

using Role = SingleInstance::Role;

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { test::testApp(); }
    QTemporaryDir root_;
    QString dir_ = root_.filePath(QStringLiteral("run/korvo-connector"));
};

TEST_F(SingleInstanceTest, LaterLaunchesAreForwardedToTheFirstUntilItEnds) {
    auto first = std::make_unique<SingleInstance>(dir_);
    ASSERT_EQ(first->claim(), Role::Primary);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(dir_).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    QSignalSpy reopened(first.get(), &SingleInstance::reopenRequested);
    for (int launch = 1; launch <= 2; ++launch) {
        SingleInstance later(dir_);
        EXPECT_EQ(later.claim(), Role::Forwarded);
        EXPECT_TRUE(reopened.wait(2000) || reopened.count() == launch);
        EXPECT_EQ(reopened.count(), launch);
    }
    first.reset();
    EXPECT_EQ(SingleInstance(dir_).claim(), Role::Primary);
}

TEST_F(SingleInstanceTest, ASocketLeftByACrashIsReplaced) {
    ASSERT_TRUE(QDir().mkpath(dir_));
    SingleInstance probe(dir_);
    QFile leftover(probe.socketPath());
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    SingleInstance first(dir_);
    ASSERT_EQ(first.claim(), Role::Primary);
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    SingleInstance later(dir_);
    EXPECT_EQ(later.claim(), Role::Forwarded);
    EXPECT_TRUE(reopened.wait(2000));
}

TEST_F(SingleInstanceTest, AHolderThatDoesNotAnswerIsReportedInTime) {
    ASSERT_TRUE(QDir().mkpath(dir_));
    QLockFile held(dir_ + QStringLiteral("/instance.lock"));
    ASSERT_TRUE(held.tryLock(0));
    SingleInstance later(dir_);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(later.claim(300), Role::Unreachable);
    EXPECT_LT(clock.elapsed(), 1500);
}

TEST_F(SingleInstanceTest, AnUnusableFolderRunsWithoutTheGuard) {
    QFile blocker(root_.filePath(QStringLiteral("run")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder's parent should be
    blocker.close();
    SingleInstance instance(dir_);
    EXPECT_EQ(instance.claim(), Role::Unguarded);
}

} // namespace
} // namespace korvo
