#include "platform/secret/SecretServiceJob.h"

#include "platform/secret/SecretServiceTypes.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <utility>

namespace quillpost {

using secretservice::Attributes;
using secretservice::Secret;

namespace {

QString serviceName() { return QStringLiteral("org.freedesktop.secrets"); }
QString servicePath() { return QStringLiteral("/org/freedesktop/secrets"); }
constexpr const char *serviceInterface = "org.freedesktop.Secret.Service";
constexpr const char *collectionInterface = "org.freedesktop.Secret.Collection";
constexpr const char *itemInterface = "org.freedesktop.Secret.Item";
constexpr const char *promptInterface = "org.freedesktop.Secret.Prompt";
constexpr const char *sessionInterface = "org.freedesktop.Secret.Session";
// The schema name that items of this program have always carried beside their service attribute.
constexpr const char *schemaName = "com.tallowmere.quillpost.Session";
// The service's "no object" (no prompt needed, no such collection).
const QString noObject = QStringLiteral("/");

// An object path, or a list of them, out of a reply's argument or a prompt's result; an empty
// path or list when the value holds something else.
QDBusObjectPath objectPath(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<QDBusObjectPath>() ? value.value<QDBusObjectPath>()
                                                                      : QDBusObjectPath();
}

QList<QDBusObjectPath> objectPaths(const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return value.value<QList<QDBusObjectPath>>();
    const auto argument = value.value<QDBusArgument>();
    return argument.currentSignature() == QLatin1String("ao") ? qdbus_cast<QList<QDBusObjectPath>>(argument)
                                                              : QList<QDBusObjectPath>();
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<Secret>();
        qDBusRegisterMetaType<Attributes>();
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace

SecretServiceJob::SecretServiceJob(Done done, std::chrono::milliseconds callTimeout, QObject *parent)
    : QObject(parent)
    , m_bus(QDBusConnection::sessionBus())
    , m_callTimeout(callTimeout)
    , m_done(std::move(done))
{
    registerTypes();
}

SecretServiceJob::~SecretServiceJob()
{
    cancel();
    if (!m_session.path().isEmpty()) {
        m_bus.send(QDBusMessage::createMethodCall(serviceName(), m_session.path(), QLatin1String(sessionInterface),
                                                  QStringLiteral("Close")));
    }
}

void SecretServiceJob::cancel()
{
    m_done = nullptr;
    if (m_promptPath.isEmpty())
        return;
    // Nobody waits for the answer any more: take the dialog off the screen.
    m_bus.send(QDBusMessage::createMethodCall(serviceName(), m_promptPath, QLatin1String(promptInterface),
                                              QStringLiteral("Dismiss")));
    stopWatchingPrompt();
}

void SecretServiceJob::finish(bool ok, std::optional<QByteArray> secret)
{
    stopWatchingPrompt();
    if (Done done = std::exchange(m_done, nullptr))
        done(ok, std::move(secret));
}

void SecretServiceJob::call(const QString &path, const char *interface, const char *method,
                            const QVariantList &arguments, const char *replySignature, Next next, Fallback failed)
{
    if (!m_bus.isConnected()) {
        // No session bus: a call would never answer. Fail as a refused call does, from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this, failed = std::move(failed)] {
                if (m_done)
                    failed ? failed() : fail();
            },
            Qt::QueuedConnection);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(serviceName(), path, QLatin1String(interface),
                                                          QLatin1String(method));
    message.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, int(m_callTimeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, replySignature, next = std::move(next), failed = std::move(failed)] {
                watcher->deleteLater();
                if (!m_done)
                    return;
                const QDBusMessage reply = watcher->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String(replySignature))
                    next(reply);
                else if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
                    fail(); // the service hangs: nothing else it is asked would be answered either
                else if (failed)
                    failed();
                else
                    fail();
            });
}

void SecretServiceJob::prompt(const QDBusObjectPath &prompt, std::function<void(const QVariant &)> next,
                              Fallback failed)
{
    m_promptPath = prompt.path();
    m_promptNext = std::move(next);
    m_promptFailed = failed ? std::move(failed) : [this] { fail(); };
    // Watched before it is shown, so that its answer cannot come first. The service is named by
    // its well-known name, as in every call: a reply's sender is not always known (Qt 6.8 leaves
    // it empty), and Qt D-Bus follows the name to its owner itself.
    if (!m_bus.connect(serviceName(), m_promptPath, QLatin1String(promptInterface), QStringLiteral("Completed"), this,
                       SLOT(promptCompleted(QDBusMessage)))) {
        m_promptPath.clear();
        std::exchange(m_promptFailed, nullptr)();
        return;
    }
    // The answer comes as the prompt's Completed signal, when the user has answered the dialog:
    // no bound applies to that wait. The call itself only says that it failed.
    call(m_promptPath, promptInterface, "Prompt", {QString()}, "", [](const QDBusMessage &) {},
         [this, path = m_promptPath] {
             if (path != m_promptPath)
                 return; // that prompt has already been answered
             stopWatchingPrompt();
             std::exchange(m_promptFailed, nullptr)();
         });
}

void SecretServiceJob::promptCompleted(const QDBusMessage &signal)
{
    if (m_promptPath.isEmpty() || signal.path() != m_promptPath)
        return;
    stopWatchingPrompt();
    auto next = std::exchange(m_promptNext, nullptr);
    Fallback failed = std::exchange(m_promptFailed, nullptr);
    if (!m_done)
        return;
    const QVariantList arguments = signal.arguments();
    // Completed(dismissed, result): a dismissed prompt did nothing.
    if (signal.signature() != QLatin1String("bv") || arguments.at(0).toBool())
        failed();
    else
        next(arguments.at(1).value<QDBusVariant>().variant());
}

void SecretServiceJob::stopWatchingPrompt()
{
    if (m_promptPath.isEmpty())
        return;
    m_bus.disconnect(serviceName(), m_promptPath, QLatin1String(promptInterface), QStringLiteral("Completed"), this,
                     SLOT(promptCompleted(QDBusMessage)));
    m_promptPath.clear();
}

void SecretServiceJob::search(std::function<void(const Paths &, const Paths &)> next, Fallback failed)
{
    const Attributes attributes{{QStringLiteral("service"), m_key}};
    call(servicePath(), serviceInterface, "SearchItems", {QVariant::fromValue(attributes)}, "aoao",
         [next = std::move(next)](const QDBusMessage &reply) {
             next(objectPaths(reply.arguments().at(0)), objectPaths(reply.arguments().at(1)));
         },
         std::move(failed));
}

void SecretServiceJob::unlock(const Paths &objects, std::function<void(const Paths &)> next, Fallback failed)
{
    // Unlocking what is already unlocked returns it at once, without a prompt.
    call(servicePath(), serviceInterface, "Unlock", {QVariant::fromValue(objects)}, "aoo",
         [this, next, failed](const QDBusMessage &reply) {
             const Paths unlocked = objectPaths(reply.arguments().at(0));
             const QDBusObjectPath promptPath = objectPath(reply.arguments().at(1));
             if (promptPath.path() == noObject) {
                 next(unlocked);
                 return;
             }
             prompt(promptPath, [next, unlocked](const QVariant &result) { next(unlocked + objectPaths(result)); },
                    failed);
         },
         failed);
}

void SecretServiceJob::openSession(std::function<void()> next)
{
    // The secret travels unencrypted on the session bus. The bus delivers a message only to its
    // destination, and any process of this user may ask the service for the secret anyway; the
    // encrypted transfer would bring a cryptography library into the program for nothing.
    call(servicePath(), serviceInterface, "OpenSession",
         {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))}, "vo",
         [this, next = std::move(next)](const QDBusMessage &reply) {
             m_session = objectPath(reply.arguments().at(1));
             next();
         });
}

void SecretServiceJob::read(const QString &key)
{
    m_key = key;
    search(
        [this](const Paths &unlocked, const Paths &locked) {
            if (!unlocked.isEmpty())
                readItem(unlocked.first());
            else if (locked.isEmpty())
                finish(true);
            else
                unlock(locked, [this](const Paths &) { readFirst(); });
        },
        [this] { fail(); });
}

void SecretServiceJob::readFirst()
{
    // Searched again: what an unlock names may be the items or their collection.
    search([this](const Paths &unlocked, const Paths &) { unlocked.isEmpty() ? fail() : readItem(unlocked.first()); },
           [this] { fail(); });
}

void SecretServiceJob::readItem(const QDBusObjectPath &item)
{
    openSession([this, item] {
        call(item.path(), itemInterface, "GetSecret", {QVariant::fromValue(m_session)}, "(oayays)",
             [this](const QDBusMessage &reply) { finish(true, qdbus_cast<Secret>(reply.arguments().at(0)).value); });
    });
}

void SecretServiceJob::clear(const QString &key)
{
    m_key = key;
    removeItems([this] { finish(true); });
}

void SecretServiceJob::removeItems(Fallback then)
{
    search(
        [this, then](const Paths &unlocked, const Paths &locked) {
            if (locked.isEmpty()) {
                deleteItems(unlocked, then);
                return;
            }
            // An item in a locked collection can be deleted only once it is unlocked. Searched
            // again afterwards: only items may be deleted, and an unlock may name their collection.
            unlock(
                locked,
                [this, then](const Paths &) {
                    search([this, then](const Paths &opened, const Paths &) { deleteItems(opened, then); }, then);
                },
                [this, unlocked, then] { deleteItems(unlocked, then); });
        },
        then);
}

void SecretServiceJob::deleteItems(Paths items, Fallback then)
{
    if (items.isEmpty()) {
        then();
        return;
    }
    const QDBusObjectPath item = items.takeFirst();
    const Fallback rest = [this, items, then] { deleteItems(items, then); };
    call(item.path(), itemInterface, "Delete", {}, "o",
         [this, rest](const QDBusMessage &reply) {
             const QDBusObjectPath promptPath = objectPath(reply.arguments().at(0));
             if (promptPath.path() == noObject)
                 rest();
             else
                 prompt(promptPath, [rest](const QVariant &) { rest(); }, rest);
         },
         rest);
}

void SecretServiceJob::store(const QString &key, const QString &label, const QByteArray &secret)
{
    m_key = key;
    m_label = label;
    m_secret = secret;
    // Replacing: every item of the key goes, also those stored with other attributes, which
    // the new item would not replace.
    removeItems([this] {
        call(servicePath(), serviceInterface, "ReadAlias", {QStringLiteral("default")}, "o",
             [this](const QDBusMessage &reply) {
                 const QDBusObjectPath collection = objectPath(reply.arguments().at(0));
                 if (collection.path() != noObject) {
                     storeIn(collection);
                     return;
                 }
                 // A new account has no keyring yet: create the default one (the service asks the
                 // user for its password).
                 const QVariantMap properties{
                     {QStringLiteral("org.freedesktop.Secret.Collection.Label"), QStringLiteral("Login")}};
                 call(servicePath(), serviceInterface, "CreateCollection", {properties, QStringLiteral("default")}, "oo",
                      [this](const QDBusMessage &created) {
                          whenCreated(created, [this](const QDBusObjectPath &made) { storeIn(made); });
                      });
             });
    });
}

void SecretServiceJob::whenCreated(const QDBusMessage &reply, std::function<void(const QDBusObjectPath &)> next)
{
    // (object, prompt): the object made at once, or a prompt whose result names it.
    const QDBusObjectPath made = objectPath(reply.arguments().at(0));
    const QDBusObjectPath promptPath = objectPath(reply.arguments().at(1));
    if (made.path() != noObject)
        next(made);
    else if (promptPath.path() == noObject)
        fail();
    else
        prompt(promptPath, [this, next](const QVariant &result) {
            const QDBusObjectPath madeLater = objectPath(result);
            madeLater.path().isEmpty() || madeLater.path() == noObject ? fail() : next(madeLater);
        }, nullptr);
}

void SecretServiceJob::storeIn(const QDBusObjectPath &collection)
{
    unlock({collection}, [this, collection](const Paths &unlocked) {
        if (!unlocked.contains(collection)) {
            fail();
            return;
        }
        openSession([this, collection] { createItem(collection); });
    });
}

void SecretServiceJob::createItem(const QDBusObjectPath &collection)
{
    const Attributes attributes{{QStringLiteral("service"), m_key}, {QStringLiteral("xdg:schema"), QLatin1String(schemaName)}};
    const QVariantMap properties{
        {QStringLiteral("org.freedesktop.Secret.Item.Label"), m_label},
        {QStringLiteral("org.freedesktop.Secret.Item.Attributes"), QVariant::fromValue(attributes)},
    };
    const Secret secret{m_session, {}, m_secret, QStringLiteral("text/plain")};
    call(collection.path(), collectionInterface, "CreateItem", {properties, QVariant::fromValue(secret), true}, "oo",
         [this](const QDBusMessage &reply) {
             whenCreated(reply, [this](const QDBusObjectPath &) { finish(true); });
         });
}

} // namespace quillpost
