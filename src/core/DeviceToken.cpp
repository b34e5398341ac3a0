#include "core/DeviceToken.h"

#include "core/TaskSupport.h"
#include "platform/PlatformServices.h"
#include "platform/FileKeychain.h"

#include <QPointer>
#include <qcoro/qcorofuture.h>

namespace korvo {

// The keychain store, used only on the keychain thread. The backend is chosen there on first
// use, because finding out whether the system's keychain answers can take a round trip.
class DeviceToken::Store {
public:
    Store(std::string service, std::shared_ptr<KeychainBackend> backend,
          std::vector<std::shared_ptr<KeychainBackend>> others)
        : service_(std::move(service)), backend_(std::move(backend)), others_(std::move(others)) {}

    const KeychainStore& get() {
        if (!store_) {
            if (!backend_) {
                backend_ = PlatformServices::keychainBackend();
                // A run without the system keychain kept the token in the per-user file.
                if (others_.empty() && !dynamic_cast<FileKeychain*>(backend_.get())) {
                    others_.push_back(std::make_shared<FileKeychain>(FileKeychain::defaultPath()));
                }
            }
            store_.emplace(service_, backend_, others_);
        }
        return *store_;
    }

private:
    std::string service_;
    std::shared_ptr<KeychainBackend> backend_;
    std::vector<std::shared_ptr<KeychainBackend>> others_;
    std::optional<KeychainStore> store_;
};

namespace {

// The failure of a keychain save, whether the store reports it as an optional error or as a
// result without a value.
template <class SaveOutcome> std::optional<KeychainError> saveFailure(const SaveOutcome& outcome) {
    if constexpr (std::is_same_v<SaveOutcome, std::optional<KeychainError>>) {
        return outcome;
    } else {
        return outcome.ok() ? std::nullopt : std::optional<KeychainError>(outcome.error());
    }
}

} // namespace

DeviceToken::DeviceToken(std::string service, std::shared_ptr<KeychainBackend> backend,
                         std::vector<std::shared_ptr<KeychainBackend>> others, QObject* parent)
    : QObject(parent),
      store_(std::make_shared<Store>(std::move(service), std::move(backend), std::move(others))) {
    pool_.setMaxThreadCount(1);
    pool_.setExpiryTimeout(-1);
}

DeviceToken::~DeviceToken() {
    pool_.waitForDone();
}

QCoro::Task<std::optional<std::string>> DeviceToken::read() {
    QPointer<DeviceToken> self(this);
    auto store = store_;
    // The future is a named local: temporaries inside a co_await expression are not safe
    // with every compiler.
    auto future =
        runInPool(pool_, [store] { return store->get().read(KeychainStore::kDeviceTokenAccount); });
    const std::optional<std::string> token = co_await future;
    if (self) {
        present_ = token.has_value();
    }
    co_return token;
}

QCoro::Task<std::optional<KeychainError>> DeviceToken::save(std::string token) {
    QPointer<DeviceToken> self(this);
    auto store = store_;
    auto future = runInPool(pool_, [store, token = std::move(token)] {
        return saveFailure(store->get().save(token, KeychainStore::kDeviceTokenAccount));
    });
    const std::optional<KeychainError> error = co_await future;
    if (self) {
        // A failed save leaves the account empty.
        present_ = !error.has_value();
    }
    co_return error;
}

QCoro::Task<std::vector<std::string>> DeviceToken::readOthers() {
    auto store = store_;
    auto future = runInPool(
        pool_, [store] { return store->get().readOthers(KeychainStore::kDeviceTokenAccount); });
    co_return co_await future;
}

QCoro::Task<> DeviceToken::remove() {
    QPointer<DeviceToken> self(this);
    auto store = store_;
    auto future =
        runInPool(pool_, [store] { store->get().remove(KeychainStore::kDeviceTokenAccount); });
    co_await future;
    if (self) {
        present_ = false;
    }
}

QCoro::Task<std::vector<std::string>> DeviceToken::take() {
    present_ = false;
    auto store = store_;
    auto future = runInPool(pool_, [store] {
        const KeychainStore& keychain = store->get();
        std::vector<std::string> tokens;
        if (auto token = keychain.read(KeychainStore::kDeviceTokenAccount)) {
            tokens.push_back(std::move(*token));
        } else {
            tokens = keychain.readOthers(KeychainStore::kDeviceTokenAccount);
        }
        keychain.remove(KeychainStore::kDeviceTokenAccount);
        return tokens;
    });
    co_return co_await future;
}

void DeviceToken::forget() {
    present_ = false;
    QCoro::Task<> removal = remove();
    Q_UNUSED(removal);
}

} // namespace korvo
