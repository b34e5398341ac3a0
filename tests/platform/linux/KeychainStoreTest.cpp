#include "platform/KeychainStore.h"

#include "platform/FileKeychain.h"
#include "platform/PlatformServices.h"
#include "platform/linux/SecretServiceKeychain.h"
#include "support/PrivateHome.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvo {
namespace {

namespace fs = std::filesystem;

// A service name no other test (or earlier run against the same keyring) has used.
std::string freshService() {
    static std::atomic<int> counter{0};
    return "com.korvo.connector.test." + std::to_string(::getpid()) + "." +
           std::to_string(counter++);
}

enum class Backend { secretService, file };

// Counts the items of (service, account) that the backend really holds, bypassing the store.
std::size_t countItems(Backend kind, const fs::path& file, const std::string& service,
                       const std::string& account) {
    if (kind == Backend::file) {
        std::ifstream in(file);
        const auto lines = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
        return lines == 0 ? 0 : std::size_t(lines - 1); // the header line
    }
    // Asked of the Secret Service directly, whatever the attributes the backend adds.
    QDBusMessage search =
        QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                       "org.freedesktop.Secret.Service", "SearchItems");
    qDBusRegisterMetaType<QMap<QString, QString>>();
    search << QVariant::fromValue(
        QMap<QString, QString>{{"service", QString::fromStdString(service)},
                               {"account", QString::fromStdString(account)}});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(search);
    std::size_t count = 0;
    for (const QVariant& paths : reply.arguments()) { // unlocked items, then locked ones
        count += std::size_t(qdbus_cast<QList<QDBusObjectPath>>(paths).size());
    }
    return count;
}

class KeychainBackendTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::file) {
            backend_ = std::make_shared<FileKeychain>(file());
            return;
        }
        if (std::getenv("KORVO_TEST_SECRET_SERVICE") == nullptr) {
            GTEST_SKIP() << "no private Secret Service; run through scripts/run-tests";
        }
        backend_ = PlatformServices::systemKeychain();
        ASSERT_TRUE(backend_) << "scripts/run-tests should provide an unlocked keyring";
    }
    fs::path file() const { return dir_.filePath("korvo-connector/keychain").toStdString(); }

    QTemporaryDir dir_;
    std::shared_ptr<KeychainBackend> backend_;
};

struct SequenceCase {
    const char* name;
    std::vector<std::optional<std::string>> steps; // a value is saved, nothing removes
    std::optional<std::string> expected;
    std::size_t expectedItems;
};

TEST_P(KeychainBackendTest, SequencesOfSaveAndDeleteReadBackAsExpected) {
    const std::string unicode = "gr\xC3\xBC\xC3\x9F dich \xE2\x9C\x93";
    const std::vector<SequenceCase> cases = {
        {"never written", {}, std::nullopt, 0},
        {"saved once", {"tok_abc"}, "tok_abc", 1},
        {"saved twice keeps one item with the second value", {"first", "second"}, "second", 1},
        {"empty string", {""}, "", 1},
        {"unicode and spaces", {unicode}, unicode, 1},
        {"deleted after save", {"x", std::nullopt}, std::nullopt, 0},
        {"delete of a missing item", {std::nullopt}, std::nullopt, 0},
        {"saved again after delete", {"a", std::nullopt, "b"}, "b", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KeychainStore store(freshService(), backend_);
        for (const auto& step : c.steps) {
            if (step) {
                EXPECT_TRUE(store.save(*step, "connectorDeviceToken").ok());
            } else {
                store.remove("connectorDeviceToken");
            }
        }
        EXPECT_EQ(store.read("connectorDeviceToken"), c.expected);
        EXPECT_EQ(countItems(GetParam(), file(), store.service(), "connectorDeviceToken"),
                  c.expectedItems);
        store.remove("connectorDeviceToken"); // the file then holds only the next case's items
    }
}

// Items of other services and accounts are neither read nor removed; bytes that are not UTF-8
// read as nothing.
TEST_P(KeychainBackendTest, ServicesAndAccountsAreSeparateAndOnlyTextIsRead) {
    const KeychainStore mine(freshService(), backend_);
    const KeychainStore other(freshService(), backend_);
    ASSERT_TRUE(mine.save("mine", "connectorDeviceToken").ok());
    ASSERT_TRUE(mine.save("second account", "otherAccount").ok());
    EXPECT_EQ(other.read("connectorDeviceToken"), std::nullopt);
    other.remove("connectorDeviceToken");
    mine.remove("otherAccount");
    EXPECT_EQ(mine.read("connectorDeviceToken"), "mine");
    EXPECT_EQ(mine.read("otherAccount"), std::nullopt);

    ASSERT_EQ(backend_->addItem(other.service(), "connectorDeviceToken", "\xFF\xFEtoken"), 0);
    EXPECT_EQ(other.read("connectorDeviceToken"), std::nullopt);
    other.remove("connectorDeviceToken");
    mine.remove("connectorDeviceToken");
}

INSTANTIATE_TEST_SUITE_P(Backends, KeychainBackendTest,
                         ::testing::Values(Backend::secretService, Backend::file),
                         [](const auto& info) {
                             return info.param == Backend::file ? "File" : "SecretService";
                         });

class FileKeychainTest : public ::testing::Test {
protected:
    QTemporaryDir dir_;
    fs::path directory_ = dir_.path().toStdString();
    fs::path file_ = directory_ / "korvo-connector" / "keychain";
};

TEST_F(FileKeychainTest, FileIsPrivateToTheUser) {
    const KeychainStore store("svc", std::make_shared<FileKeychain>(file_));
    ASSERT_TRUE(store.save("secret", "connectorDeviceToken").ok());
    EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(file_.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(FileKeychainTest, DamagedOrUnusableStoreReadsAsNothingAndIsNeverOverwritten) {
    struct Case {
        const char* name;
        fs::path at;
        std::string content;
        int status; // 0: any failure status
    };
    const fs::path folder = directory_ / "korvo-connector";
    const std::vector<Case> cases = {
        {"not a keychain", file_, "not a keychain\n", 0},
        {"missing field", file_, "korvo-keychain 1\nc3Zj Y29ubmVjdG9yRGV2aWNlVG9rZW4\n", 0},
        {"bad base64", file_, "korvo-keychain 1\nc3Zj Y29ubmVjdG9yRGV2aWNlVG9rZW4 !!!\n", 0},
        // No one, root included, can write below a regular file.
        {"a file where the folder should be", folder, "in the way", ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        fs::create_directories(c.at.parent_path());
        std::ofstream(c.at) << c.content;
        const KeychainStore store("svc", std::make_shared<FileKeychain>(file_));
        EXPECT_EQ(store.read("connectorDeviceToken"), std::nullopt);
        const auto saved = store.save("new", "connectorDeviceToken");
        ASSERT_FALSE(saved.ok());
        EXPECT_EQ(saved.error().code, KeychainError::Code::unhandled);
        EXPECT_TRUE(c.status ? saved.error().status == c.status : saved.error().status != 0);
        store.remove("connectorDeviceToken");
        std::ifstream in(c.at);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.content);
    }
}

// Runs `argv` with exactly `environment`; its exit code, -1 when it did not exit by itself.
int runChild(const QStringList& argv, const QStringList& environment) {
    QProcess child;
    QProcessEnvironment env;
    for (const QString& entry : environment) {
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    }
    child.setProcessEnvironment(env);
    child.start(argv.first(), argv.mid(1));
    return test::finish(child, 60000).exitCode;
}

// The file a file keychain keeps its items in; empty for any other backend.
std::string fileOf(const std::shared_ptr<KeychainBackend>& backend) {
    const auto* file = dynamic_cast<const FileKeychain*>(backend.get());
    return file != nullptr ? file->path().string() : std::string();
}

// Runs in a child copy of this test program whose environment offers no usable Secret Service;
// the parent sets KORVO_KEYCHAIN_CHILD_FILE and checks the exit status. The children with a
// keyring run it inside their own private bus (dbus-run-session), where the bus activates it.
TEST(KeychainDefaultBackend, FallsBackToTheFileWhenNoSecretServiceAnswers) {
    if (const char* file = std::getenv("KORVO_KEYCHAIN_CHILD_FILE")) {
        const auto backend = PlatformServices::keychainBackend();
        EXPECT_EQ(fileOf(backend), file);
        const KeychainStore store("svc", backend);
        EXPECT_TRUE(store.save("token", "connectorDeviceToken").ok());
        EXPECT_EQ(store.read("connectorDeviceToken"), "token");
        return;
    }
    struct Case {
        const char* name;
        bool privateBus;    // run inside dbus-run-session
        bool lockedLogin;   // a login keyring exists but nobody unlocked it
        QString busAddress; // DBUS_SESSION_BUS_ADDRESS when not privateBus
        bool dataHome;      // XDG_DATA_HOME set (else ~/.local/share)
    };
    const std::vector<Case> cases = {
        {"no bus address and no bus socket", false, false, "", true},
        {"a bus address where nothing listens", false, false, "unix:path=/nonexistent/bus", false},
        {"a keyring without a default collection", true, false, "", true},
        {"a locked login keyring and no display", true, true, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir scratch;
        QDir(scratch.path()).mkpath("runtime");
        QFile::setPermissions(scratch.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString data = scratch.filePath(c.dataHome ? "data" : ".local/share");
        QStringList environment = {"XDG_RUNTIME_DIR=" + scratch.filePath("runtime"),
                                   "HOME=" + scratch.path(), "PATH=/usr/bin:/bin"};
        if (c.dataHome) {
            environment << "XDG_DATA_HOME=" + data;
        }
        if (!c.busAddress.isEmpty()) {
            environment << "DBUS_SESSION_BUS_ADDRESS=" + c.busAddress;
        }
        if (c.lockedLogin) {
            // A first private session creates the login keyring with a password, then ends.
            ASSERT_EQ(runChild({"dbus-run-session", "--", "sh", "-c",
                                "printf pw | gnome-keyring-daemon --foreground --unlock "
                                "--components=secrets >/dev/null 2>&1 & p=$!; sleep 0.5; "
                                "kill $p; wait $p; exit 0"},
                               environment),
                      0);
            ASSERT_TRUE(QFile::exists(data + "/keyrings/login.keyring"));
        }
        environment << "KORVO_KEYCHAIN_CHILD_FILE=" + data + "/korvo-connector/keychain";
        QStringList argv = {QFile::symLinkTarget("/proc/self/exe"),
                            "--gtest_filter=KeychainDefaultBackend."
                            "FallsBackToTheFileWhenNoSecretServiceAnswers"};
        if (c.privateBus) {
            argv = QStringList{"dbus-run-session", "--"} + argv;
        }
        EXPECT_EQ(runChild(argv, environment), 0);
    }
}

TEST(KeychainDefaultBackend, PrefersTheSecretServiceWhenOneAnswers) {
    if (std::getenv("KORVO_TEST_SECRET_SERVICE") == nullptr) {
        GTEST_SKIP() << "no private Secret Service; run through scripts/run-tests";
    }
    EXPECT_NE(dynamic_cast<const SecretServiceKeychain*>(PlatformServices::keychainBackend().get()),
              nullptr);
    // A file named in the environment wins, so a test never touches the user's keyring.
    QTemporaryDir dir;
    const std::string file = dir.filePath("keychain").toStdString();
    qputenv(PlatformServices::kKeychainFileVariable, QByteArray::fromStdString(file));
    const auto backend = PlatformServices::keychainBackend();
    qunsetenv(PlatformServices::kKeychainFileVariable);
    EXPECT_EQ(fileOf(backend), file);
}

// libsecret's password calls (Debian's python3-gi) with the connector's schema, as earlier versions
// stored the token: `store VALUE` or `lookup` (prints the value, or <none>) for (service, account).
QString libsecret(const std::string& service, const QStringList& command) {
    const QString script = R"(import sys, gi
gi.require_version("Secret", "1")
from gi.repository import Secret
T = Secret.SchemaAttributeType.STRING
schema = Secret.Schema.new("com.korvo.connector.GenericPassword", Secret.SchemaFlags.NONE,
                           {"service": T, "account": T})
attributes = {"service": sys.argv[1], "account": "connectorDeviceToken"}
if sys.argv[2] == "store":
    Secret.password_store_sync(schema, attributes, Secret.COLLECTION_DEFAULT,
                               sys.argv[1] + " connectorDeviceToken", sys.argv[3], None)
else:
    print(Secret.password_lookup_sync(schema, attributes, None) or "<none>", end="")
)";
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start("/usr/bin/python3",
                 QStringList{"-c", script, QString::fromStdString(service)} + command);
    python.waitForFinished(30000);
    return python.exitCode() == 0 ? QString::fromUtf8(python.readAllStandardOutput()) : "failed";
}

// A token stored by libsecret is read and replaced, one stored here is what libsecret reads,
// and the backend keeps bytes that are not text as they are.
TEST(SecretServiceKeychainTest, ItemsAreSharedWithLibsecretAndKeepTheirBytes) {
    if (std::getenv("KORVO_TEST_SECRET_SERVICE") == nullptr) {
        GTEST_SKIP() << "no private Secret Service; run through scripts/run-tests";
    }
    const auto backend = PlatformServices::systemKeychain();
    ASSERT_TRUE(backend);
    const KeychainStore store(freshService(), backend);
    const std::string account = "connectorDeviceToken";
    ASSERT_EQ(libsecret(store.service(), {"store", "stored by libsecret"}), "");
    EXPECT_EQ(store.read(account), "stored by libsecret");
    ASSERT_TRUE(store.save("stored here", account).ok());
    EXPECT_EQ(countItems(Backend::secretService, {}, store.service(), account), 1u);
    EXPECT_EQ(libsecret(store.service(), {"lookup"}), "stored here");

    const std::string bytes("\0\xFF\x80\n tok\0", 9);
    store.remove(account);
    ASSERT_EQ(backend->addItem(store.service(), account, bytes), 0);
    EXPECT_EQ(backend->copyItem(store.service(), account), bytes);
    store.remove(account);
    EXPECT_EQ(libsecret(store.service(), {"lookup"}), "<none>");
}

} // namespace
} // namespace korvo
