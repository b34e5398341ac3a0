#include "core/TaskSupport.h"

#include "CoreTestSupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <qcoro/qcorofuture.h>

namespace korvo {
namespace {

TEST(TaskSupportTest, CancellingEndsAPauseOnALaterTurnOfTheEventLoop) {
    auto flag = std::make_shared<CancellationFlag>();
    QElapsedTimer elapsed;
    elapsed.start();
    QCoro::Task<> pause = cancellableSleep(std::chrono::hours(1), flag);
    EXPECT_FALSE(pause.isReady());
    flag->cancel();
    // Never resumed from inside cancel(): the code that cancels may be a destructor.
    EXPECT_FALSE(pause.isReady());
    test::finish(std::move(pause));
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_TRUE(flag->isCancelled());
}

TEST(TaskSupportTest, APauseThatIsAlreadyCancelledDoesNotWait) {
    auto flag = std::make_shared<CancellationFlag>();
    flag->cancel();
    EXPECT_TRUE(cancellableSleep(std::chrono::hours(1), flag).isReady());
}

TEST(TaskSupportTest, ARecheckBeforeTheDeadlineKeepsPausing) {
    auto flag = std::make_shared<CancellationFlag>();
    QElapsedTimer elapsed;
    elapsed.start();
    QCoro::Task<> pause = cancellableSleep(std::chrono::milliseconds(300), flag);
    QTest::qWait(50);
    flag->recheckClock();
    QTest::qWait(50);
    EXPECT_FALSE(pause.isReady());
    test::finish(std::move(pause));
    EXPECT_GE(elapsed.elapsed(), 280);
}

TEST(TaskSupportTest, WorkRunsOffTheCallingThread) {
    QThreadPool pool;
    const QThread* caller = QThread::currentThread();
    auto future = runInPool(pool, [] { return QThread::currentThread(); });
    const QThread* worker = test::finish([](QFuture<QThread*> answer) -> QCoro::Task<QThread*> {
        co_return co_await answer;
    }(future));
    EXPECT_NE(worker, caller);
}

} // namespace
} // namespace korvo
