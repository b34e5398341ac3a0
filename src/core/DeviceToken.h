#pragma once

#include "platform/KeychainStore.h"

#include <QObject>
#include <QThreadPool>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <string>
#include <vector>

namespace korvo {

// The device token in the keychain. Keychain calls run one after another on a thread of their
// own, the GUI thread only awaits them; the last answer about the token is kept.
class DeviceToken final : public QObject {
    Q_OBJECT
public:
    // An empty backend: the platform's, chosen on first use off the GUI thread. `others` are
    // where a run that chose another backend may have left a token.
    DeviceToken(std::string service, std::shared_ptr<KeychainBackend> backend,
                std::vector<std::shared_ptr<KeychainBackend>> others, QObject* parent = nullptr);
    ~DeviceToken() override;

    // The keychain held the token when it was last asked.
    bool isPresent() const { return present_; }

    QCoro::Task<std::optional<std::string>> read();
    QCoro::Task<std::optional<KeychainError>> save(std::string token);
    // Tokens other backends hold, apart from the one read() finds.
    QCoro::Task<std::vector<std::string>> readOthers();
    // The token is forgotten at once; the keychain item goes on the keychain thread.
    void forget();
    // Forgets the token at once like forget(), and answers what the keychain held before: the
    // token, else those other backends kept. Reading and removing are one step on the keychain
    // thread, so nothing saved meanwhile is lost.
    QCoro::Task<std::vector<std::string>> take();

private:
    class Store;
    QCoro::Task<> remove();

    std::shared_ptr<Store> store_;
    QThreadPool pool_;
    bool present_ = false;
};

} // namespace korvo
