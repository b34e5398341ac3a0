#include "relay/AsyncKeychain.h"

#include "relay/FileKeychain.h"
#include "support/RunTask.h"
#include "support/ThreadRecordingKeychain.h"

#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using Reads = std::vector<std::optional<std::string>>;

QCoro::Task<Reads> sequence(AsyncKeychain& keychain) {
    Reads reads; // each operation must see the one before
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
    auto backend = std::make_shared<test::ThreadRecordingKeychain>(
        std::make_shared<FileKeychain>(dir.filePath("keychain").toStdString()));
    AsyncKeychain keychain(KeychainStore("svc", backend));
    int ticks = 0; // the caller's event loop keeps turning while the store works
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(0);
    EXPECT_EQ(test::runTask(sequence(keychain)), (Reads{"saved", "first", "second", std::nullopt}));
    EXPECT_FALSE(backend->threads().isEmpty());
    EXPECT_FALSE(backend->threads().contains(QThread::currentThread()));
    EXPECT_GT(ticks, 0);
}

} // namespace
} // namespace korvo
