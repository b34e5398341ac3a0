#include "platform/linux/SecretServiceKeychain.h"

#include <cstdlib>
#include <filesystem>
#include <libsecret/secret.h>

namespace korvo {
namespace {

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
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (service == nullptr) {
        g_clear_error(&error);
        return false;
    }
    // The items go to the default collection. Without one, or with a locked one and no display
    // to show the unlock prompt on (an SSH session, a user service), every write would fail.
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    g_object_unref(service);
    if (collection == nullptr) {
        g_clear_error(&error);
        return false;
    }
    const bool locked = secret_collection_get_locked(collection);
    g_object_unref(collection);
    const bool display =
        std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    return !locked || display;
}

std::string SecretServiceKeychain::name() const {
    return "Secret Service";
}

void SecretServiceKeychain::removeItems(const std::string& service, const std::string& account) {
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", service.c_str(), "account",
                               account.c_str(), nullptr);
    if (error != nullptr) {
        g_error_free(error);
    }
}

std::int32_t SecretServiceKeychain::addItem(const std::string& service, const std::string& account,
                                            std::string_view data) {
    SecretValue* value =
        secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
    const std::string label = service + " " + account;
    GError* error = nullptr;
    const gboolean stored = secret_password_store_binary_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr, &error, "service",
        service.c_str(), "account", account.c_str(), nullptr);
    secret_value_unref(value);
    if (error != nullptr) {
        const std::int32_t code = error->code != 0 ? error->code : -1;
        g_error_free(error);
        return code;
    }
    return stored ? 0 : -1;
}

std::optional<std::string> SecretServiceKeychain::copyItem(const std::string& service,
                                                           const std::string& account) {
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(
        schema(), nullptr, &error, "service", service.c_str(), "account", account.c_str(), nullptr);
    if (error != nullptr) {
        g_error_free(error);
    }
    if (value == nullptr) {
        return std::nullopt;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    std::string result(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0);
    secret_value_unref(value);
    return result;
}

} // namespace korvo
