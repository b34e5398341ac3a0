#include "core/TaskSupport.h"

#include <QTimer>
#include <algorithm>
#include <ctime>
#include <qcoro/qcorotimer.h>

namespace korvo {

void CancellationFlag::cancel() {
    if (cancelled_) {
        return;
    }
    cancelled_ = true;
    Q_EMIT cancelRequested();
}

std::chrono::milliseconds continuousClockNow() {
// Linux's CLOCK_BOOTTIME and macOS's CLOCK_MONOTONIC count the time asleep; steady_clock may not
// (on macOS it is CLOCK_UPTIME_RAW, which stops).
#if defined(CLOCK_BOOTTIME) || defined(__APPLE__)
#if defined(CLOCK_BOOTTIME)
    constexpr clockid_t kContinuous = CLOCK_BOOTTIME;
#else
    constexpr clockid_t kContinuous = CLOCK_MONOTONIC;
#endif
    timespec now{};
    if (clock_gettime(kContinuous, &now) == 0) {
        return std::chrono::seconds(now.tv_sec) +
               std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::nanoseconds(now.tv_nsec));
    }
#endif
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

QCoro::Task<> cancellableSleep(std::chrono::milliseconds duration,
                               std::shared_ptr<CancellationFlag> flag) {
    if (flag->isCancelled()) {
        co_return;
    }
    const std::chrono::milliseconds deadline = continuousClockNow() + duration;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    // Queued, so that the task resumes on its own turn of the event loop and never inside the
    // code that cancelled it (which may be the model's destructor).
    QObject::connect(
        flag.get(), &CancellationFlag::cancelRequested, &timer, [&timer] { timer.start(0); },
        Qt::QueuedConnection);
    // The timer's own clock stops while the machine sleeps; after a wake the remaining time is
    // measured again on the continuous clock.
    QObject::connect(
        flag.get(), &CancellationFlag::clockMayHaveJumped, &timer,
        [&timer, deadline] {
            timer.start(std::max(std::chrono::milliseconds(0), deadline - continuousClockNow()));
        },
        Qt::QueuedConnection);
    timer.start(duration);
    co_await timer;
}

} // namespace korvo
