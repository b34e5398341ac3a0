#include "platform/linux/SecretServiceKeychain.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <libsecret/secret.h>

namespace korvo {
namespace {

// libsecret (and GIO, GObject and the libraries they pull in) is opened the first time the
// keychain is used, not when the program starts: most commands never touch the keychain, and
// loading those libraries costs more start-up time than such a command's own work. The header
// gives the types; each function is looked up by name in the opened library.
struct SecretLibrary {
    decltype(&secret_service_get_sync) serviceGetSync = nullptr;
    decltype(&secret_collection_for_alias_sync) collectionForAliasSync = nullptr;
    decltype(&secret_collection_get_locked) collectionGetLocked = nullptr;
    decltype(&secret_password_clear_sync) passwordClearSync = nullptr;
    decltype(&secret_password_store_binary_sync) passwordStoreBinarySync = nullptr;
    decltype(&secret_password_lookup_binary_sync) passwordLookupBinarySync = nullptr;
    decltype(&secret_value_new) valueNew = nullptr;
    decltype(&secret_value_get) valueGet = nullptr;
    decltype(&secret_value_unref) valueUnref = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
    decltype(&g_error_free) errorFree = nullptr;

    // Frees and clears `*error` when set.
    void clear(GError** error) const {
        if (*error != nullptr) {
            errorFree(*error);
            *error = nullptr;
        }
    }
};

template <class Function> bool bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

// The library with every function found, or nothing when it is not installed. Opened once and
// never closed: GLib's type system cannot be unloaded.
const SecretLibrary* secretLibrary() {
    static const SecretLibrary* const library = []() -> const SecretLibrary* {
        void* handle = ::dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            return nullptr;
        }
        static SecretLibrary functions;
        const bool complete =
            bind(handle, "secret_service_get_sync", functions.serviceGetSync) &&
            bind(handle, "secret_collection_for_alias_sync", functions.collectionForAliasSync) &&
            bind(handle, "secret_collection_get_locked", functions.collectionGetLocked) &&
            bind(handle, "secret_password_clear_sync", functions.passwordClearSync) &&
            bind(handle, "secret_password_store_binary_sync", functions.passwordStoreBinarySync) &&
            bind(handle, "secret_password_lookup_binary_sync",
                 functions.passwordLookupBinarySync) &&
            bind(handle, "secret_value_new", functions.valueNew) &&
            bind(handle, "secret_value_get", functions.valueGet) &&
            bind(handle, "secret_value_unref", functions.valueUnref) &&
            bind(handle, "g_object_unref", functions.objectUnref) &&
            bind(handle, "g_error_free", functions.errorFree);
        return complete ? &functions : nullptr;
    }();
    return library;
}

const SecretSchema* schema() {
    static const SecretSchema value = {
        "com.korvo.connector.GenericPassword",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &value;
}

// A session bus is reachable without auto-launching one.
bool sessionBusConfigured() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return false;
    }
    std::error_code ec;
    return std::filesystem::is_socket(std::filesystem::path(runtime) / "bus", ec);
}

} // namespace

bool SecretServiceKeychain::available() {
    if (!sessionBusConfigured()) {
        return false;
    }
    const SecretLibrary* secret = secretLibrary();
    if (secret == nullptr) {
        return false;
    }
    GError* error = nullptr;
    SecretService* service = secret->serviceGetSync(SECRET_SERVICE_NONE, nullptr, &error);
    if (service == nullptr) {
        secret->clear(&error);
        return false;
    }
    // The items go to the default collection. Without one, or with a locked one and no display
    // to show the unlock prompt on (an SSH session, a user service), every write would fail.
    SecretCollection* collection = secret->collectionForAliasSync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    secret->objectUnref(service);
    if (collection == nullptr) {
        secret->clear(&error);
        return false;
    }
    const bool locked = secret->collectionGetLocked(collection);
    secret->objectUnref(collection);
    const bool display =
        std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    return !locked || display;
}

void SecretServiceKeychain::removeItems(const std::string& service, const std::string& account) {
    const SecretLibrary* secret = secretLibrary();
    if (secret == nullptr) {
        return;
    }
    GError* error = nullptr;
    secret->passwordClearSync(schema(), nullptr, &error, "service", service.c_str(), "account",
                              account.c_str(), nullptr);
    secret->clear(&error);
}

std::int32_t SecretServiceKeychain::addItem(const std::string& service, const std::string& account,
                                            std::string_view data) {
    const SecretLibrary* secret = secretLibrary();
    if (secret == nullptr) {
        return -1;
    }
    SecretValue* value =
        secret->valueNew(data.data(), static_cast<gssize>(data.size()), "text/plain");
    const std::string label = service + " " + account;
    GError* error = nullptr;
    const gboolean stored = secret->passwordStoreBinarySync(
        schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr, &error, "service",
        service.c_str(), "account", account.c_str(), nullptr);
    secret->valueUnref(value);
    if (error != nullptr) {
        const std::int32_t code = error->code != 0 ? error->code : -1;
        secret->clear(&error);
        return code;
    }
    return stored ? 0 : -1;
}

std::optional<std::string> SecretServiceKeychain::copyItem(const std::string& service,
                                                           const std::string& account) {
    const SecretLibrary* secret = secretLibrary();
    if (secret == nullptr) {
        return std::nullopt;
    }
    GError* error = nullptr;
    SecretValue* value = secret->passwordLookupBinarySync(
        schema(), nullptr, &error, "service", service.c_str(), "account", account.c_str(), nullptr);
    secret->clear(&error);
    if (value == nullptr) {
        return std::nullopt;
    }
    gsize length = 0;
    const gchar* bytes = secret->valueGet(value, &length);
    std::string result(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0);
    secret->valueUnref(value);
    return result;
}

} // namespace korvo
