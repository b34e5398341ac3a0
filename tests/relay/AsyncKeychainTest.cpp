#include "relay/AsyncKeychain.h"

#include "relay/FileKeychain.h"
#include "support/RunTask.h"

#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace korvo {
namespace {

// A real file store that also notes the thread each call ran on.
class ThreadNotingKeychain final : public KeychainBackend {
public:
    explicit ThreadNotingKeychain(std::filesystem::path file) : file_(std::move(file)) {}
    std::string name() const override { return file_.name(); }
    void removeItems(const std::string& s, const std::string& a) override {
        threads.push_back(QThread::currentThread());
        file_.removeItems(s, a);
    }
    std::int32_t addItem(const std::string& s, const std::string& a, std::string_view d) override {
        threads.push_back(QThread::currentThread());
        return file_.addItem(s, a, d);
    }
    std::optional<std::string> copyItem(const std::string& s, const std::string& a) override {
        threads.push_back(QThread::currentThread());
        return file_.copyItem(s, a);
    }
    std::vector<QThread*> threads;

private:
    FileKeychain file_;
};

QCoro::Task<std::vector<std::optional<std::string>>> sequence(AsyncKeychain& keychain) {
    std::vector<std::optional<std::string>> reads;
    // Started back to back: each must see the one before.
    auto saved = co_await keychain.save("first", "connectorDeviceToken");
    reads.push_back(saved.ok() ? std::optional<std::string>("saved") : std::nullopt);
    reads.push_back(co_await keychain.read("connectorDeviceToken"));
    co_await keychain.save("second", "connectorDeviceToken");
    reads.push_back(co_await keychain.read("connectorDeviceToken"));
    co_await keychain.remove("connectorDeviceToken");
    reads.push_back(co_await keychain.read("connectorDeviceToken"));
    co_return reads;
}

TEST(AsyncKeychain, RunsOperationsInOrderOffTheCallingThread) {
    test::ensureApplication();
    QTemporaryDir dir;
    auto backend = std::make_shared<ThreadNotingKeychain>(dir.filePath("keychain").toStdString());
    AsyncKeychain keychain(KeychainStore("svc", backend));

    // The caller's event loop keeps turning while the store works.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(0);

    const auto reads = test::runTask(sequence(keychain));
    const std::vector<std::optional<std::string>> expected = {"saved", "first", "second",
                                                              std::nullopt};
    EXPECT_EQ(reads, expected);
    ASSERT_FALSE(backend->threads.empty());
    for (QThread* thread : backend->threads) {
        EXPECT_NE(thread, QThread::currentThread());
    }
    EXPECT_GT(ticks, 0);
}

} // namespace
} // namespace korvo
