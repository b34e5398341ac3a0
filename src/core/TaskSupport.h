#pragma once

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <chrono>
#include <memory>
#include <qcoro/qcorotask.h>
#include <type_traits>
#include <utility>

namespace korvo {

// Cooperative cancellation of one long-lived task. Lives on the GUI thread. The task checks
// isCancelled() before and after each pause; cancel() also ends a pause early.
class CancellationFlag final : public QObject {
    Q_OBJECT
public:
    bool isCancelled() const { return cancelled_; }
    void cancel();
    // Asks running pauses to look at the continuous clock again (after the machine woke,
    // a pause may already be over although the process was frozen).
    void recheckClock() { Q_EMIT clockMayHaveJumped(); }

Q_SIGNALS:
    void cancelRequested();
    void clockMayHaveJumped();

private:
    bool cancelled_ = false;
};

// Milliseconds on a monotonic clock that keeps counting while the machine sleeps.
std::chrono::milliseconds continuousClockNow();

// Pauses for `duration` on the continuous clock. Ends early, on a later turn of the event loop,
// when the flag is cancelled; never resumes its caller from inside cancel().
QCoro::Task<> cancellableSleep(std::chrono::milliseconds duration,
                               std::shared_ptr<CancellationFlag> flag);

// Runs `work` on `pool` and returns a future of its result, to be co_awaited on the GUI
// thread. `work` must not throw and must capture nothing that the GUI thread mutates.
template <class Work> auto runInPool(QThreadPool& pool, Work work) {
    using Value = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Value>>();
    QFuture<Value> future = promise->future();
    promise->start();
    pool.start([promise, work = std::move(work)]() mutable {
        if constexpr (std::is_void_v<Value>) {
            work();
        } else {
            promise->addResult(work());
        }
        promise->finish();
    });
    return future;
}

} // namespace korvo
