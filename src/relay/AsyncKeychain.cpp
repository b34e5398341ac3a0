#include "relay/AsyncKeychain.h"

namespace korvo {

AsyncKeychain::AsyncKeychain(KeychainStore store)
    : store_(std::move(store)), receiver_(std::make_unique<QObject>()) {
    // One thread keeps the operations in order: a read started after a save sees the save.
    pool_.setMaxThreadCount(1);
    pool_.setExpiryTimeout(-1);
}

AsyncKeychain::~AsyncKeychain() {
    pool_.clear();
    pool_.waitForDone();
}

QCoro::Task<Result<std::monostate, KeychainError>> AsyncKeychain::save(std::string value,
                                                                       std::string account) {
    using Saved = Result<std::monostate, KeychainError>;
    // Awaiters are named locals: temporaries inside a co_await expression are not kept alive
    // across the suspension by every compiler.
    OnWorker<Saved> operation{this, [this, value, account] { return store_.save(value, account); }};
    co_return co_await operation;
}

QCoro::Task<std::optional<std::string>> AsyncKeychain::read(std::string account) {
    OnWorker<std::optional<std::string>> operation{
        this, [this, account] { return store_.read(account); }};
    co_return co_await operation;
}

QCoro::Task<> AsyncKeychain::remove(std::string account) {
    OnWorker<bool> operation{this, [this, account] {
                                 store_.remove(account);
                                 return true;
                             }};
    co_await operation;
}

} // namespace korvo
