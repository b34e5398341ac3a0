#include "platform/linux/SecretServiceKeychain.h"

#include "platform/PlatformLog.h"
#include "platform/linux/SecretPromptWaiter.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace korvo {

namespace {

using Attributes = QMap<QString, QString>;

// Each call is bounded so that a service that hangs cannot hold a sync (or pairing) forever.
constexpr int kCallTimeoutMs = 5000;
// A prompt waits for the user to type the keyring's password; one left unanswered this long is
// dismissed, and the operation that needed it fails as if the user had dismissed it.
constexpr std::chrono::milliseconds kPromptTimeout = std::chrono::minutes(5);

const QString kBusName = u"org.freedesktop.secrets"_s;
const QString kServicePath = u"/org/freedesktop/secrets"_s;
const QString kDefaultCollectionPath = u"/org/freedesktop/secrets/aliases/default"_s;
const QString kServiceInterface = u"org.freedesktop.Secret.Service"_s;
const QString kCollectionInterface = u"org.freedesktop.Secret.Collection"_s;
const QString kItemInterface = u"org.freedesktop.Secret.Item"_s;
const QString kPromptInterface = u"org.freedesktop.Secret.Prompt"_s;
// Stored in every item's "xdg:schema" attribute and matched on every search, as libsecret's
// password calls do, so that items written through either client are the same items.
const QString kSchema = u"com.korvo.connector.GenericPassword"_s;

bool failed(const QDBusMessage& reply) {
    return reply.type() != QDBusMessage::ReplyMessage;
}

// The status of a failed call: the code GLib gives the error in libsecret's error domain or in
// GDBus's, so that a status reads the same whichever client stored the item; -1 otherwise.
std::int32_t statusOf(const QDBusMessage& reply) {
    static const std::pair<QString, std::int32_t> codes[] = {
        {u"org.freedesktop.Secret.Error.IsLocked"_s, 2},
        {u"org.freedesktop.Secret.Error.NoSuchObject"_s, 3},
        {u"org.freedesktop.Secret.Error.AlreadyExists"_s, 4},
        {u"org.freedesktop.DBus.Error.ServiceUnknown"_s, 2},
        {u"org.freedesktop.DBus.Error.NoReply"_s, 4},
        {u"org.freedesktop.DBus.Error.AccessDenied"_s, 9},
        {u"org.freedesktop.DBus.Error.InvalidArgs"_s, 16},
        {u"org.freedesktop.DBus.Error.UnknownMethod"_s, 19},
        {u"org.freedesktop.DBus.Error.UnknownObject"_s, 41},
    };
    for (const auto& [name, code] : codes) {
        if (reply.errorName() == name) {
            return code;
        }
    }
    return -1;
}

// The session bus that DBUS_SESSION_BUS_ADDRESS names at the time of the call, or Qt's default
// session bus when it names none. QDBusConnection::sessionBus() alone would keep the bus the
// process first connected to, so a keychain made after the address changed (a test's private
// bus, a session restarted under a long-lived process) would still speak to the old one.
QDBusConnection sessionBus() {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty()) {
        return QDBusConnection::sessionBus();
    }
    const QString name = u"korvo-secret-service "_s + address;
    QDBusConnection bus = QDBusConnection::connectToBus(address, name);
    if (!bus.isConnected()) {
        // A bus that went away and may be back at the same address: connect afresh next time.
        QDBusConnection::disconnectFromBus(name);
    }
    return bus;
}

// A blocking call to the Secret Service on the session bus, on the caller's thread.
QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments = {}, bool autoStart = true) {
    QDBusMessage message = QDBusMessage::createMethodCall(kBusName, path, interface, method);
    message.setArguments(arguments);
    message.setAutoStartService(autoStart);
    QDBusMessage reply = sessionBus().call(message, QDBus::Block, kCallTimeoutMs);
    if (failed(reply)) {
        // The error's name only: its message is the service's own text.
        qCDebug(lcPlatform).noquote()
            << "Secret Service:" << method << "failed:" << reply.errorName();
    }
    return reply;
}

QVariant attributes(const std::string& service, const std::string& account) {
    static const bool registered = [] {
        qDBusRegisterMetaType<Attributes>();
        return true;
    }();
    (void)registered;
    return QVariant::fromValue(Attributes{{u"service"_s, QString::fromStdString(service)},
                                          {u"account"_s, QString::fromStdString(account)},
                                          {u"xdg:schema"_s, kSchema}});
}

bool isNoPath(const QVariant& path) {
    const QString text = path.value<QDBusObjectPath>().path();
    return text.isEmpty() || text == u"/"_s;
}

// Shows the prompt at `path` and waits for its answer: its result when the user completed it,
// nothing when it was dismissed, could not be shown, went unanswered, or the service left.
std::optional<QVariant> runPrompt(const QVariant& path) {
    const QString prompt = path.value<QDBusObjectPath>().path();
    QDBusConnection bus = sessionBus();
    SecretPromptWaiter waiter;
    QDBusServiceWatcher watcher(kBusName, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &waiter.loop,
                     &QEventLoop::quit);
    if (!bus.connect(kBusName, prompt, kPromptInterface, u"Completed"_s, &waiter,
                     SLOT(complete(bool, QDBusVariant)))) {
        return std::nullopt;
    }
    // The window id is empty: the prompt belongs to no window of this process.
    if (!failed(call(prompt, kPromptInterface, u"Prompt"_s, {QString()}, false))) {
        QTimer::singleShot(kPromptTimeout, &waiter.loop, &QEventLoop::quit);
        waiter.loop.exec();
    }
    bus.disconnect(kBusName, prompt, kPromptInterface, u"Completed"_s, &waiter,
                   SLOT(complete(bool, QDBusVariant)));
    if (!waiter.completed) {
        call(prompt, kPromptInterface, u"Dismiss"_s, {}, false);
        return std::nullopt;
    }
    if (waiter.dismissed) {
        return std::nullopt;
    }
    return waiter.result;
}

// The paths among `paths` that are unlocked once the service has unlocked them, through its
// prompt when it asks for one.
QList<QDBusObjectPath> unlock(const QList<QDBusObjectPath>& paths) {
    const QDBusMessage reply =
        call(kServicePath, kServiceInterface, u"Unlock"_s, {QVariant::fromValue(paths)});
    if (failed(reply) || reply.signature() != u"aoo"_s) {
        return {};
    }
    if (isNoPath(reply.arguments().at(1))) {
        return qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0));
    }
    const std::optional<QVariant> result = runPrompt(reply.arguments().at(1));
    return result ? qdbus_cast<QList<QDBusObjectPath>>(*result) : QList<QDBusObjectPath>();
}

// Runs `send` with the path of this process's "plain" session, in which secrets travel as they
// are (the bus is local to the user). The session is opened once per bus and kept; it is opened
// again when the service no longer knows it (the service was restarted). The reply of the last
// call.
QDBusMessage withSession(const std::function<QDBusMessage(const QDBusObjectPath&)>& send) {
    static std::mutex mutex;
    static QString session;
    static QString sessionBusName;
    const QString busName = sessionBus().name();
    QString known;
    {
        const std::lock_guard lock(mutex);
        if (sessionBusName == busName) {
            known = session;
        }
    }
    if (!known.isEmpty()) {
        QDBusMessage reply = send(QDBusObjectPath(known));
        if (reply.errorName() != u"org.freedesktop.Secret.Error.NoSession"_s &&
            reply.errorName() != u"org.freedesktop.DBus.Error.UnknownObject"_s) {
            return reply;
        }
    }
    const QDBusMessage opened = call(kServicePath, kServiceInterface, u"OpenSession"_s,
                                     {u"plain"_s, QVariant::fromValue(QDBusVariant(QString()))});
    if (failed(opened) || opened.signature() != u"vo"_s) {
        return opened;
    }
    const QDBusObjectPath path = opened.arguments().at(1).value<QDBusObjectPath>();
    {
        const std::lock_guard lock(mutex);
        session = path.path();
        sessionBusName = busName;
    }
    return send(path);
}

struct Search {
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
};

// The items of (service, account) in every collection; nothing when the search failed.
std::optional<Search> search(const std::string& service, const std::string& account) {
    const QDBusMessage reply =
        call(kServicePath, kServiceInterface, u"SearchItems"_s, {attributes(service, account)});
    if (failed(reply) || reply.signature() != u"aoao"_s) {
        return std::nullopt;
    }
    return Search{qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0)),
                  qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1))};
}

// A secret as the service takes it: (session, parameters, value, content type).
QVariant secret(const QDBusObjectPath& session, const QByteArray& value) {
    QDBusArgument argument;
    argument.beginStructure();
    argument << session << QByteArray() << value << u"text/plain"_s;
    argument.endStructure();
    return QVariant::fromValue(argument);
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
    if (!sessionBusConfigured() || !sessionBus().isConnected()) {
        return false;
    }
    // The items go to the default collection. Without one, or with a locked one and no display
    // to show the unlock prompt on (an SSH session, a user service), every write would fail.
    const QDBusMessage alias =
        call(kServicePath, kServiceInterface, u"ReadAlias"_s, {u"default"_s});
    if (failed(alias) || alias.signature() != u"o"_s || isNoPath(alias.arguments().at(0))) {
        return false;
    }
    const QDBusMessage locked =
        call(alias.arguments().at(0).value<QDBusObjectPath>().path(),
             u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {kCollectionInterface, u"Locked"_s});
    if (failed(locked) || locked.signature() != u"v"_s) {
        return false;
    }
    const bool display =
        std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    return !locked.arguments().at(0).value<QDBusVariant>().variant().toBool() || display;
}

void SecretServiceKeychain::removeItems(const std::string& service, const std::string& account) {
    // Locked items stay: removing them would need the user to unlock them first.
    const std::optional<Search> found = search(service, account);
    if (!found) {
        return;
    }
    for (const QDBusObjectPath& item : found->unlocked) {
        const QDBusMessage reply = call(item.path(), kItemInterface, u"Delete"_s);
        if (!failed(reply) && reply.signature() == u"o"_s && !isNoPath(reply.arguments().at(0))) {
            runPrompt(reply.arguments().at(0));
        }
    }
}

std::int32_t SecretServiceKeychain::addItem(const std::string& service, const std::string& account,
                                            std::string_view data) {
    const QVariantMap properties = {
        {u"org.freedesktop.Secret.Item.Label"_s, QString::fromStdString(service + " " + account)},
        {u"org.freedesktop.Secret.Item.Attributes"_s, attributes(service, account)},
    };
    const QByteArray value(data.data(), static_cast<qsizetype>(data.size()));
    const auto create = [&] {
        return withSession([&](const QDBusObjectPath& session) {
            // Replaces an item of the same attributes in the collection.
            return call(kDefaultCollectionPath, kCollectionInterface, u"CreateItem"_s,
                        {properties, secret(session, value), true});
        });
    };
    QDBusMessage reply = create();
    const QString error = reply.errorName();
    if (error == u"org.freedesktop.Secret.Error.NoSuchObject"_s ||
        error == u"org.freedesktop.DBus.Error.UnknownMethod"_s ||
        error == u"org.freedesktop.DBus.Error.UnknownObject"_s) {
        // No default collection: one is made, through the service's prompt for its password.
        const QVariantMap collection = {
            {u"org.freedesktop.Secret.Collection.Label"_s, u"Default keyring"_s}};
        const QDBusMessage made = call(kServicePath, kServiceInterface, u"CreateCollection"_s,
                                       {collection, u"default"_s});
        if (failed(made) || made.signature() != u"oo"_s) {
            return statusOf(made);
        }
        if (!isNoPath(made.arguments().at(1)) && !runPrompt(made.arguments().at(1))) {
            return -1;
        }
        reply = create();
    } else if (error == u"org.freedesktop.Secret.Error.IsLocked"_s) {
        // Unlocked through the service's prompt, then tried once more.
        unlock({QDBusObjectPath(kDefaultCollectionPath)});
        reply = create();
    }
    if (failed(reply) || reply.signature() != u"oo"_s) {
        return statusOf(reply);
    }
    if (!isNoPath(reply.arguments().at(1)) && !runPrompt(reply.arguments().at(1))) {
        return -1;
    }
    return 0;
}

std::optional<std::string> SecretServiceKeychain::copyItem(const std::string& service,
                                                           const std::string& account) {
    const std::optional<Search> found = search(service, account);
    if (!found) {
        return std::nullopt;
    }
    QDBusObjectPath item;
    if (!found->unlocked.isEmpty()) {
        item = found->unlocked.first();
    } else if (!found->locked.isEmpty()) {
        const QList<QDBusObjectPath> unlocked = unlock({found->locked.first()});
        if (unlocked.isEmpty()) {
            return std::nullopt;
        }
        item = unlocked.first();
    } else {
        return std::nullopt;
    }
    const QDBusMessage reply = withSession([&](const QDBusObjectPath& session) {
        return call(item.path(), kItemInterface, u"GetSecret"_s, {QVariant::fromValue(session)});
    });
    if (failed(reply) || reply.signature() != u"(oayays)"_s) {
        return std::nullopt;
    }
    const QDBusArgument argument = reply.arguments().at(0).value<QDBusArgument>();
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
    argument.beginStructure();
    argument >> session >> parameters >> value >> contentType;
    argument.endStructure();
    return value.toStdString();
}

} // namespace korvo
