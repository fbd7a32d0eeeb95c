#include "platform/secret/KeychainStore.h"

#include "platform/secret/SecretServiceJob.h"

#include <QStringDecoder>

namespace quillpost {

namespace {

// The token in a stored secret: its bytes as UTF-8, or nothing when they are not valid UTF-8.
std::optional<QString> decodeToken(const std::optional<QByteArray> &secret)
{
    if (!secret)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = utf8.decode(*secret);
    if (utf8.hasError())
        return std::nullopt;
    return token;
}

} // namespace

KeychainStore::KeychainStore(const char *key, const char *label)
    : m_key(key)
    , m_label(label)
{
}

// The jobs go with m_context; each drops its answer and closes what it opened on the service.
KeychainStore::~KeychainStore() = default;

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
    m_job = new SecretServiceJob(
        [this](bool ok, std::optional<QByteArray> secret) { finishCurrent(ok, secret); }, m_timeout, &m_context);
    const QString key = QString::fromUtf8(m_key);
    switch (m_current->kind) {
    case Operation::Kind::Read:
        m_job->read(key);
        break;
    case Operation::Kind::Save:
        m_job->store(key, QString::fromUtf8(m_label), m_current->token.toUtf8());
        break;
    case Operation::Kind::Remove:
        m_job->clear(key);
        break;
    }
}

void KeychainStore::abandonCurrent()
{
    if (m_current)
        finishCurrent(false, std::nullopt);
}

void KeychainStore::finishCurrent(bool ok, const std::optional<QByteArray> &secret)
{
    // The job may be the caller: it goes once control is back in the event loop, and answers
    // nothing more meanwhile.
    if (m_job) {
        m_job->cancel();
        m_job->deleteLater();
        m_job = nullptr;
    }
    const Operation operation = std::move(*m_current);
    m_current.reset();
    deliver(operation, decodeToken(secret), ok);
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
