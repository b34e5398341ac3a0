#include "core/TaskSupport.h"

#include "CoreTestSupport.h"

#include <QElapsedTimer>

namespace korvo {
namespace {

TEST(TaskSupportTest, CancellingEndsAPauseOnALaterTurnOfTheEventLoop) {
    auto flag = std::make_shared<CancellationFlag>();
    QElapsedTimer elapsed;
    elapsed.start();
    QCoro::Task<> pause = cancellableSleep(1h, flag);
    flag->cancel();
    // Never resumed from inside cancel(): the code that cancels may be a destructor.
    EXPECT_FALSE(pause.isReady());
    test::finish(std::move(pause));
    EXPECT_LT(elapsed.elapsed(), 2000);
    // A pause that is already cancelled does not wait at all.
    EXPECT_TRUE(cancellableSleep(1h, flag).isReady());
}

TEST(TaskSupportTest, ARecheckBeforeTheDeadlineKeepsPausing) {
    auto flag = std::make_shared<CancellationFlag>();
    QElapsedTimer elapsed;
    elapsed.start();
    QCoro::Task<> pause = cancellableSleep(300ms, flag);
    QTest::qWait(50);
    flag->recheckClock();
    QTest::qWait(50);
    EXPECT_FALSE(pause.isReady());
    test::finish(std::move(pause));
    EXPECT_GE(elapsed.elapsed(), 280);
}

} // namespace
} // namespace korvo
