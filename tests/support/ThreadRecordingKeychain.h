#pragma once

#include "platform/KeychainBackend.h"

#include <QSet>
#include <QThread>
#include <memory>
#include <mutex>

namespace korvo::test {

// A real keychain backend that also notes every thread that called it.
class ThreadRecordingKeychain final : public KeychainBackend {
public:
    explicit ThreadRecordingKeychain(std::shared_ptr<KeychainBackend> inner)
        : inner_(std::move(inner)) {}
    void removeItems(const std::string& service, const std::string& account) override {
        note(), inner_->removeItems(service, account);
    }
    std::int32_t addItem(const std::string& service, const std::string& account,
                         std::string_view data) override {
        return note(), inner_->addItem(service, account, data);
    }
    std::optional<std::string> copyItem(const std::string& service,
                                        const std::string& account) override {
        return note(), inner_->copyItem(service, account);
    }
    QSet<const QThread*> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    void note() {
        std::lock_guard lock(mutex_);
        threads_.insert(QThread::currentThread());
    }
    std::shared_ptr<KeychainBackend> inner_;
    mutable std::mutex mutex_;
    QSet<const QThread*> threads_;
};

} // namespace korvo::test
