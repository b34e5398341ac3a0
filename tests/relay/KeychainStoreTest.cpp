#include "relay/KeychainStore.h"

#include "relay/FileKeychain.h"
#include "relay/SecretServiceKeychain.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

struct BackendFixture {
    std::shared_ptr<KeychainBackend> backend;
    fs::path directory;
};

// Counts the items of (service, account) that the backend really holds, bypassing the store.
std::size_t countItems(Backend kind, const fs::path& file, const std::string& service,
                       const std::string& account) {
    if (kind == Backend::file) {
        std::ifstream in(file);
        std::string line;
        std::size_t lines = 0;
        while (std::getline(in, line)) {
            ++lines;
        }
        return lines == 0 ? 0 : lines - 1; // the header line
    }
    static const SecretSchema schema = {"com.korvo.connector.GenericPassword",
                                        SECRET_SCHEMA_NONE,
                                        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    GError* error = nullptr;
    GList* found =
        secret_password_search_sync(&schema, SECRET_SEARCH_ALL, nullptr, &error, "service",
                                    service.c_str(), "account", account.c_str(), nullptr);
    if (error != nullptr) {
        g_error_free(error);
    }
    const std::size_t count = g_list_length(found);
    g_list_free_full(found, g_object_unref);
    return count;
}

class KeychainBackendTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() /
                     ("korvo-keychain-" + std::to_string(::getpid()) + "-" + freshService());
        if (GetParam() == Backend::file) {
            backend_ = std::make_shared<FileKeychain>(directory_ / "korvo-connector" / "keychain");
            return;
        }
        if (std::getenv("KORVO_TEST_SECRET_SERVICE") == nullptr) {
            GTEST_SKIP() << "no private Secret Service; run through scripts/run-tests";
        }
        ASSERT_TRUE(SecretServiceKeychain::available())
            << "scripts/run-tests should provide an unlocked keyring";
        backend_ = std::make_shared<SecretServiceKeychain>();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(directory_, ec);
    }
    fs::path file() const { return directory_ / "korvo-connector" / "keychain"; }

    fs::path directory_;
    std::shared_ptr<KeychainBackend> backend_;
};

struct Step {
    enum Kind { save, remove } kind;
    std::string value;
};

struct SequenceCase {
    const char* name;
    std::vector<Step> steps;
    std::optional<std::string> expected;
    std::size_t expectedItems;
};

TEST_P(KeychainBackendTest, SequencesOfSaveAndDeleteReadBackAsExpected) {
    const std::vector<SequenceCase> cases = {
        {"never written", {}, std::nullopt, 0},
        {"saved once", {{Step::save, "tok_abc"}}, "tok_abc", 1},
        {"saved twice keeps one item with the second value",
         {{Step::save, "first"}, {Step::save, "second"}},
         "second",
         1},
        {"empty string", {{Step::save, ""}}, "", 1},
        {"unicode and spaces",
         {{Step::save, "gr\xC3\xBC\xC3\x9F dich \xE2\x9C\x93"}},
         "gr\xC3\xBC\xC3\x9F dich \xE2\x9C\x93",
         1},
        {"deleted after save", {{Step::save, "x"}, {Step::remove, ""}}, std::nullopt, 0},
        {"delete of a missing item", {{Step::remove, ""}}, std::nullopt, 0},
        {"saved again after delete",
         {{Step::save, "a"}, {Step::remove, ""}, {Step::save, "b"}},
         "b",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KeychainStore store(freshService(), backend_);
        for (const auto& step : c.steps) {
            if (step.kind == Step::save) {
                EXPECT_TRUE(store.save(step.value, "connectorDeviceToken").ok());
            } else {
                store.remove("connectorDeviceToken");
            }
        }
        EXPECT_EQ(store.read("connectorDeviceToken"), c.expected);
        const std::size_t items =
            countItems(GetParam(), file(), store.service(), "connectorDeviceToken");
        if (GetParam() == Backend::file) {
            EXPECT_EQ(items, c.expectedItems); // the file holds only this case's items
            store.remove("connectorDeviceToken");
        } else {
            EXPECT_EQ(items, c.expectedItems);
        }
    }
}

TEST_P(KeychainBackendTest, ServicesAndAccountsAreSeparate) {
    const KeychainStore mine(freshService(), backend_);
    const KeychainStore other(freshService(), backend_);
    ASSERT_TRUE(mine.save("mine", "connectorDeviceToken").ok());
    ASSERT_TRUE(mine.save("second account", "otherAccount").ok());

    EXPECT_EQ(other.read("connectorDeviceToken"), std::nullopt);
    other.remove("connectorDeviceToken");
    EXPECT_EQ(mine.read("connectorDeviceToken"), "mine");

    mine.remove("otherAccount");
    EXPECT_EQ(mine.read("connectorDeviceToken"), "mine");
    EXPECT_EQ(mine.read("otherAccount"), std::nullopt);
}

TEST_P(KeychainBackendTest, BytesThatAreNotUtf8ReadAsNothing) {
    const KeychainStore store(freshService(), backend_);
    ASSERT_EQ(backend_->addItem(store.service(), "connectorDeviceToken", "\xFF\xFEtoken"), 0);
    EXPECT_EQ(store.read("connectorDeviceToken"), std::nullopt);
    store.remove("connectorDeviceToken");
}

INSTANTIATE_TEST_SUITE_P(Backends, KeychainBackendTest,
                         ::testing::Values(Backend::secretService, Backend::file),
                         [](const auto& info) {
                             return info.param == Backend::file ? "File" : "SecretService";
                         });

class FileKeychainTest : public ::testing::Test {
protected:
    void TearDown() override {
        std::error_code ec;
        fs::permissions(directory_, fs::perms::owner_all, ec);
        fs::remove_all(directory_, ec);
    }
    fs::path directory_ = fs::temp_directory_path() / ("korvo-filekeychain-" + freshService());
    fs::path file_ = directory_ / "korvo-connector" / "keychain";
};

TEST_F(FileKeychainTest, FileIsPrivateToTheUser) {
    const KeychainStore store("svc", std::make_shared<FileKeychain>(file_));
    ASSERT_TRUE(store.save("secret", "connectorDeviceToken").ok());
    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(file_.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_NE(store.backendName().find(file_.string()), std::string::npos);
}

TEST_F(FileKeychainTest, DamagedFileReadsAsNothingAndIsNeverOverwritten) {
    const std::vector<std::string> damaged = {
        "not a keychain\n",
        "korvo-keychain 1\nc3Zj Y29ubmVjdG9yRGV2aWNlVG9rZW4\n",     // missing field
        "korvo-keychain 1\nc3Zj Y29ubmVjdG9yRGV2aWNlVG9rZW4 !!!\n", // bad base64
    };
    for (const auto& content : damaged) {
        SCOPED_TRACE(content);
        fs::create_directories(file_.parent_path());
        std::ofstream(file_, std::ios::trunc) << content;
        const KeychainStore store("svc", std::make_shared<FileKeychain>(file_));
        EXPECT_EQ(store.read("connectorDeviceToken"), std::nullopt);
        const auto saved = store.save("new", "connectorDeviceToken");
        ASSERT_FALSE(saved.ok());
        EXPECT_EQ(saved.error().code, KeychainError::Code::unhandled);
        EXPECT_NE(saved.error().status, 0);
        store.remove("connectorDeviceToken");
        std::ifstream in(file_);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    }
}

TEST_F(FileKeychainTest, UnusableDirectoryFailsTheSaveWithItsStatus) {
    // A regular file where the directory should be: no one, root included, can write there.
    fs::create_directories(directory_);
    std::ofstream(directory_ / "korvo-connector") << "in the way";
    const KeychainStore store("svc", std::make_shared<FileKeychain>(file_));
    const auto saved = store.save("token", "connectorDeviceToken");
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error(), KeychainError::unhandled(ENOTDIR));
    EXPECT_EQ(store.read("connectorDeviceToken"), std::nullopt);
    store.remove("connectorDeviceToken");
}

// Runs `argv` with exactly `environment`; answers its exit status (-1 when it did not exit).
int runChild(std::vector<std::string> argv, std::vector<std::string> environment) {
    std::vector<char*> args;
    for (auto& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) {
        return -1;
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Runs in a child copy of this test program whose environment offers no usable Secret Service;
// the parent sets KORVO_KEYCHAIN_CHILD_FILE and checks the exit status. The children with a
// keyring run it inside their own private bus (dbus-run-session), where the bus activates it.
TEST(KeychainDefaultBackend, FallsBackToTheFileWhenNoSecretServiceAnswers) {
    if (const char* file = std::getenv("KORVO_KEYCHAIN_CHILD_FILE")) {
        const auto backend = makeDefaultKeychainBackend();
        EXPECT_EQ(backend->name(), "File (" + std::string(file) + ")");
        const KeychainStore store("svc", backend);
        EXPECT_TRUE(store.save("token", "connectorDeviceToken").ok());
        EXPECT_EQ(store.read("connectorDeviceToken"), "token");
        return;
    }
    const fs::path scratch = fs::temp_directory_path() / ("korvo-nobus-" + freshService());
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string filter =
        "--gtest_filter=KeychainDefaultBackend.FallsBackToTheFileWhenNoSecretServiceAnswers";
    struct Case {
        const char* name;
        bool privateBus;        // run inside dbus-run-session
        bool lockedLogin;       // a login keyring exists but nobody unlocked it
        std::string busAddress; // DBUS_SESSION_BUS_ADDRESS when not privateBus
        bool dataHome;          // XDG_DATA_HOME set (else ~/.local/share)
    };
    const std::vector<Case> cases = {
        {"no bus address and no bus socket", false, false, "", true},
        {"a bus address where nothing listens", false, false,
         "unix:path=" + (scratch / "dead").string(), false},
        {"a keyring without a default collection", true, false, "", true},
        {"a locked login keyring and no display", true, true, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::remove_all(scratch, ec);
        fs::create_directories(scratch / "runtime");
        fs::permissions(scratch / "runtime", fs::perms::owner_all);
        const fs::path data = c.dataHome ? scratch / "data" : scratch / ".local" / "share";
        std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + (scratch / "runtime").string(),
                                                "HOME=" + scratch.string(), "PATH=/usr/bin:/bin"};
        if (c.dataHome) {
            environment.push_back("XDG_DATA_HOME=" + data.string());
        }
        if (!c.busAddress.empty()) {
            environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + c.busAddress);
        }
        if (c.lockedLogin) {
            // A first private session creates the login keyring with a password, then ends.
            ASSERT_EQ(runChild({"dbus-run-session", "--", "sh", "-c",
                                "printf pw | gnome-keyring-daemon --foreground --unlock "
                                "--components=secrets >/dev/null 2>&1 & p=$!; sleep 0.5; "
                                "kill $p; wait $p; exit 0"},
                               environment),
                      0);
            ASSERT_TRUE(fs::exists(data / "keyrings" / "login.keyring"));
        }
        environment.push_back("KORVO_KEYCHAIN_CHILD_FILE=" +
                              (data / "korvo-connector" / "keychain").string());
        std::vector<std::string> argv = {self, filter};
        if (c.privateBus) {
            argv.insert(argv.begin(), {"dbus-run-session", "--"});
        }
        EXPECT_EQ(runChild(argv, environment), 0);
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
}

TEST(KeychainDefaultBackend, PrefersTheSecretServiceWhenOneAnswers) {
    if (std::getenv("KORVO_TEST_SECRET_SERVICE") == nullptr) {
        GTEST_SKIP() << "no private Secret Service; run through scripts/run-tests";
    }
    EXPECT_EQ(makeDefaultKeychainBackend()->name(), "Secret Service");
}

} // namespace
} // namespace korvo
