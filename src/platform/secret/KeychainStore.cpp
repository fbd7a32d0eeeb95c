#include "platform/secret/KeychainStore.h"

#include <QAbstractEventDispatcher>
#include <QStringDecoder>
#include <QTimer>

#include <libsecret/secret.h>

namespace quillpost {

namespace {

// Items are matched by the service attribute alone, whatever schema name they were stored with.
const SecretSchema *tokenSchema()
{
    static const SecretSchema schema = {
        "com.tallowmere.quillpost.Session",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

// The token in a stored value: its bytes as UTF-8, or nothing when they are not valid UTF-8.
std::optional<QString> decodeToken(SecretValue *value)
{
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = utf8.decode(QByteArrayView(bytes, qsizetype(length)));
    if (utf8.hasError())
        return std::nullopt;
    return token;
}

// Whether Qt's event loop on this thread is GLib's main loop, which runs libsecret's callbacks.
bool eventLoopRunsGlib()
{
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}

constexpr std::chrono::milliseconds glibPumpInterval{10};

} // namespace

// What a libsecret callback needs to find its operation. Owned by the callback, which libsecret
// runs exactly once, also after a cancellation and after the store is gone.
struct KeychainStore::Call
{
    KeychainStore *store;
    QPointer<QObject> alive; // the store's context object
    quint64 id;
    Step step;
};

KeychainStore::KeychainStore(const char *key, const char *label)
    : m_key(key)
    , m_label(label)
    , m_deadline(new QTimer(&m_context))
    , m_glibPump(new QTimer(&m_context))
{
    m_deadline->setSingleShot(true);
    QObject::connect(m_deadline, &QTimer::timeout, &m_context, [this] { abandonCurrent(); });
    m_glibPump->setInterval(glibPumpInterval);
    QObject::connect(m_glibPump, &QTimer::timeout, &m_context, [] {
        for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
        }
    });
}

KeychainStore::~KeychainStore()
{
    if (m_cancellable) {
        g_cancellable_cancel(m_cancellable);
        g_object_unref(m_cancellable);
    }
}

void KeychainStore::read(const QObject *receiver, std::function<void(std::optional<QString>)> done)
{
    Operation operation;
    operation.kind = Operation::Kind::Read;
    operation.receiver = receiver;
    operation.onRead = std::move(done);
    m_queue.push_back(std::move(operation));
    startNext();
}

void KeychainStore::save(const QString &token, const QObject *receiver, std::function<void(bool saved)> done)
{
    Operation operation;
    operation.kind = Operation::Kind::Save;
    operation.token = token;
    operation.receiver = receiver;
    operation.onSave = std::move(done);
    m_queue.push_back(std::move(operation));
    startNext();
}

void KeychainStore::remove()
{
    // A save still waiting, or under way, would store a token that is being signed out.
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->kind == Operation::Kind::Save) {
            deliver(*it, std::nullopt, false);
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    if (m_current && m_current->kind == Operation::Kind::Save)
        abandonCurrent();
    m_queue.push_back(Operation{});
    startNext();
}

void KeychainStore::startNext()
{
    if (m_current || m_queue.empty())
        return;
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    ++m_currentId;
    m_cancellable = g_cancellable_new();
    m_deadline->start(m_timeout);
    if (!eventLoopRunsGlib())
        m_glibPump->start();
    switch (m_current->kind) {
    case Operation::Kind::Read:
        startStep(Step::Lookup);
        break;
    case Operation::Kind::Save:
        // Replacing: an item stored under another schema name would otherwise stay beside it.
        startStep(Step::ClearBeforeStore);
        break;
    case Operation::Kind::Remove:
        startStep(Step::Clear);
        break;
    }
}

void KeychainStore::startStep(Step step)
{
    auto *call = new Call{this, &m_context, m_currentId, step};
    switch (step) {
    case Step::Lookup:
        secret_password_lookup(tokenSchema(), m_cancellable, stepFinished, call, "service", m_key, nullptr);
        break;
    case Step::ClearBeforeStore:
    case Step::Clear:
        secret_password_clear(tokenSchema(), m_cancellable, stepFinished, call, "service", m_key, nullptr);
        break;
    case Step::Store: {
        const QByteArray bytes = m_current->token.toUtf8();
        SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
        secret_password_store_binary(tokenSchema(), SECRET_COLLECTION_DEFAULT, m_label, value,
                                     m_cancellable, stepFinished, call, "service", m_key, nullptr);
        secret_value_unref(value);
        break;
    }
    }
}

void KeychainStore::stepFinished(GObject *, GAsyncResult *result, void *data)
{
    const std::unique_ptr<Call> call(static_cast<Call *>(data));
    // The store is gone, or the operation was given up and the next one may already run.
    if (!call->alive || call->store->m_currentId != call->id)
        return;
    KeychainStore *store = call->store;
    GError *error = nullptr;
    switch (call->step) {
    case Step::Lookup: {
        SecretValue *value = secret_password_lookup_binary_finish(result, &error);
        const std::optional<QString> token = decodeToken(value);
        if (value)
            secret_value_unref(value);
        g_clear_error(&error);
        store->finishCurrent(token, true);
        return;
    }
    case Step::ClearBeforeStore:
        // Whether there was anything to delete does not matter; the store step decides.
        secret_password_clear_finish(result, &error);
        g_clear_error(&error);
        store->startStep(Step::Store);
        return;
    case Step::Store: {
        const bool stored = secret_password_store_finish(result, &error);
        g_clear_error(&error);
        store->finishCurrent(std::nullopt, stored);
        return;
    }
    case Step::Clear:
        secret_password_clear_finish(result, &error);
        g_clear_error(&error);
        store->finishCurrent(std::nullopt, true);
        return;
    }
}

void KeychainStore::abandonCurrent()
{
    if (!m_current)
        return;
    // The callback of the cancelled call still comes, and finds its operation finished.
    g_cancellable_cancel(m_cancellable);
    finishCurrent(std::nullopt, false);
}

void KeychainStore::finishCurrent(std::optional<QString> token, bool ok)
{
    const Operation operation = std::move(*m_current);
    m_current.reset();
    ++m_currentId;
    g_object_unref(m_cancellable);
    m_cancellable = nullptr;
    m_deadline->stop();
    m_glibPump->stop();
    deliver(operation, std::move(token), ok);
    startNext();
}

void KeychainStore::deliver(const Operation &operation, std::optional<QString> token, bool ok)
{
    // Queued, so that no callback runs inside the call that started or abandoned it.
    QObject *receiver = const_cast<QObject *>(operation.receiver.data());
    if (!receiver)
        return;
    if (operation.onRead) {
        QMetaObject::invokeMethod(
            receiver, [done = operation.onRead, token = std::move(token)] { done(token); }, Qt::QueuedConnection);
    } else if (operation.onSave) {
        QMetaObject::invokeMethod(receiver, [done = operation.onSave, ok] { done(ok); }, Qt::QueuedConnection);
    }
}

} // namespace quillpost
