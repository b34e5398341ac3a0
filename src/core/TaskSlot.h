#pragma once

#include "core/TaskSupport.h"

#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace korvo {

// The one long-lived task a concern may run at a time (a poll or a loop) with its cancellation
// flag. Destroying the slot cancels the task; the task notices on a later turn of the event loop.
class TaskSlot {
public:
    TaskSlot() = default;
    TaskSlot(const TaskSlot&) = delete;
    TaskSlot& operator=(const TaskSlot&) = delete;
    ~TaskSlot() {
        if (handle_) {
            handle_->flag->cancel();
        }
    }

    bool isRunning() const { return handle_.has_value(); }

    // Stores a new handle, then starts the task with its flag. The handle exists before the
    // task's first step runs, so a task that ends at once can clear its own handle.
    template <class Start> void launch(Start start) {
        auto flag = std::make_shared<CancellationFlag>();
        handle_.emplace(Handle{flag, QCoro::Task<>()});
        QCoro::Task<> task = start(flag);
        if (handle_ && handle_->flag == flag) {
            handle_->task = std::move(task);
        }
    }
    // Cancels the task, if any, and forgets it.
    void cancel() {
        if (handle_) {
            handle_->flag->cancel();
            handle_.reset();
        }
    }
    // Forgets the task when it is still the one of `flag` (a task ending by itself).
    void clear(const CancellationFlag* flag) {
        if (handle_ && handle_->flag.get() == flag) {
            handle_.reset();
        }
    }
    // Lets a pause of the task look at the clock again after the machine woke.
    void recheckClock() {
        if (handle_) {
            handle_->flag->recheckClock();
        }
    }

private:
    struct Handle {
        std::shared_ptr<CancellationFlag> flag;
        QCoro::Task<> task;
    };
    std::optional<Handle> handle_;
};

} // namespace korvo
