#pragma once

#include "relay/KeychainStore.h"

#include <QCoroTask>
#include <QObject>
#include <QThreadPool>
#include <coroutine>
#include <functional>
#include <memory>
#include <optional>

namespace korvo {

// KeychainStore for the GUI thread: every operation runs on one worker thread of its own, in the
// order the operations were started, and the awaiting coroutine resumes on the thread that
// created this object. A Secret Service call can block for seconds (D-Bus, an unlock prompt);
// the event loop keeps running meanwhile.
//
// Destroying this object waits for the operation in progress; coroutines still waiting are then
// never resumed, so the owner outlives the tasks it starts (as the model does).
class AsyncKeychain {
public:
    explicit AsyncKeychain(KeychainStore store);
    ~AsyncKeychain();
    AsyncKeychain(const AsyncKeychain&) = delete;
    AsyncKeychain& operator=(const AsyncKeychain&) = delete;

    const KeychainStore& store() const { return store_; }

    QCoro::Task<Result<std::monostate, KeychainError>> save(std::string value, std::string account);
    QCoro::Task<std::optional<std::string>> read(std::string account);
    QCoro::Task<> remove(std::string account);

private:
    // Runs `work` on the worker thread and resumes the awaiting coroutine on the owner's thread.
    template <class T> struct OnWorker {
        AsyncKeychain* owner;
        std::function<T()> work;
        std::optional<T> result{};

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) {
            QObject* receiver = owner->receiver_.get();
            owner->pool_.start([this, handle, receiver] {
                result.emplace(work());
                QMetaObject::invokeMethod(
                    receiver, [handle] { handle.resume(); }, Qt::QueuedConnection);
            });
        }
        T await_resume() { return std::move(*result); }
    };

    KeychainStore store_;
    std::unique_ptr<QObject> receiver_;
    QThreadPool pool_;
};

} // namespace korvo
