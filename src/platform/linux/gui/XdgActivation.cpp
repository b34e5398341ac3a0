#include "platform/linux/gui/XdgActivation.h"

#include "xdg-activation-v1-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <cstring>
#include <optional>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace korvo {

// The activation global, bound through a wrapper of the application's display whose events go to
// a queue of their own, so that waiting for the compositor's answers never dispatches Qt's.
struct XdgActivation::Connection {
    wl_event_queue* queue = nullptr;
    wl_display* wrapper = nullptr;
    wl_registry* registry = nullptr;
    xdg_activation_v1* activation = nullptr;

    ~Connection() {
        if (activation) {
            xdg_activation_v1_destroy(activation);
        }
        if (registry) {
            wl_registry_destroy(registry);
        }
        if (wrapper) {
            wl_proxy_wrapper_destroy(wrapper);
        }
        if (queue) {
            wl_event_queue_destroy(queue);
        }
    }
};

namespace {

void announceGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                    uint32_t /*version*/) {
    auto** activation = static_cast<xdg_activation_v1**>(data);
    if (!*activation && std::strcmp(interface, xdg_activation_v1_interface.name) == 0) {
        *activation = static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
    }
}
void removeGlobal(void* /*data*/, wl_registry* /*registry*/, uint32_t /*name*/) {}
constexpr wl_registry_listener kRegistryListener{announceGlobal, removeGlobal};

void tokenDone(void* data, xdg_activation_token_v1* /*token*/, const char* token) {
    *static_cast<std::optional<QString>*>(data) = QString::fromUtf8(token);
}
constexpr xdg_activation_token_v1_listener kTokenListener{tokenDone};

} // namespace

XdgActivation::XdgActivation() {
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        if (QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface()) {
            display_ = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
        }
    }
}

XdgActivation::~XdgActivation() = default;

bool XdgActivation::bind() {
    if (connection_) {
        return connection_->activation != nullptr;
    }
    if (!display_) {
        return false;
    }
    connection_ = std::make_unique<Connection>();
    connection_->queue = wl_display_create_queue(display_);
    connection_->wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display_));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(connection_->wrapper), connection_->queue);
    connection_->registry = wl_display_get_registry(connection_->wrapper);
    wl_registry_add_listener(connection_->registry, &kRegistryListener, &connection_->activation);
    // One round trip: the compositor lists its globals in answer to the registry request.
    wl_display_roundtrip_queue(display_, connection_->queue);
    return connection_->activation != nullptr;
}

QString XdgActivation::takeLaunchToken() {
    QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    qunsetenv("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty() || !bind()) {
        return token;
    }
    xdg_activation_token_v1* request =
        xdg_activation_v1_get_activation_token(connection_->activation);
    std::optional<QString> made;
    xdg_activation_token_v1_add_listener(request, &kTokenListener, &made);
    xdg_activation_token_v1_set_app_id(request,
                                       QGuiApplication::desktopFileName().toUtf8().constData());
    xdg_activation_token_v1_commit(request);
    // The compositor answers the commit with the token.
    for (int trip = 0; trip < 3 && !made; ++trip) {
        if (wl_display_roundtrip_queue(display_, connection_->queue) < 0) {
            break;
        }
    }
    xdg_activation_token_v1_destroy(request);
    return made.value_or(QString());
}

void XdgActivation::activate(QWindow& window, const QString& token) {
    if (token.isEmpty() || !window.handle() || !bind()) {
        return;
    }
    auto* surface = static_cast<wl_surface*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForWindow("surface", &window));
    if (!surface) {
        return;
    }
    xdg_activation_v1_activate(connection_->activation, token.toUtf8().constData(), surface);
    wl_display_flush(display_);
}

std::unique_ptr<WindowActivation> makeWindowActivation() {
    return std::make_unique<XdgActivation>();
}

} // namespace korvo
