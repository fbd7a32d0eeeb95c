#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QDBusMessage;

namespace quillpost {

// One exchange with the desktop's Secret Service (org.freedesktop.secrets on the session bus)
// about the items whose attribute "service" is a given key, whatever other attributes they
// carry: read the secret of one of them, replace them by a new item in the default collection,
// or delete them. Every call is asynchronous and the job answers once, from the event loop.
// Where the service asks for a prompt (to unlock a collection, or to create the default one on
// a new account), the job shows it and waits for the user's answer, however long it takes.
// A call that gets no answer within `callTimeout` fails the job: the service hangs.
//
// cancel() and destroying the job drop the answer and dismiss a prompt that is still open.
class SecretServiceJob final : public QObject
{
    Q_OBJECT

public:
    // `ok` says whether the operation succeeded; `secret` is what a read found (nothing when
    // there is no item).
    using Done = std::function<void(bool ok, std::optional<QByteArray> secret)>;

    SecretServiceJob(Done done, std::chrono::milliseconds callTimeout, QObject *parent);
    ~SecretServiceJob() override;
    SecretServiceJob(const SecretServiceJob &) = delete;
    SecretServiceJob &operator=(const SecretServiceJob &) = delete;

    // Start one of these, once.
    void read(const QString &key);
    void store(const QString &key, const QString &label, const QByteArray &secret);
    void clear(const QString &key);

    void cancel();

private Q_SLOTS:
    void promptCompleted(const QDBusMessage &signal);

private:
    using Paths = QList<QDBusObjectPath>;
    using Next = std::function<void(const QDBusMessage &reply)>;
    using Fallback = std::function<void()>;

    void call(const QString &path, const char *interface, const char *method, const QVariantList &arguments,
              const char *replySignature, Next next, Fallback failed = {});
    void prompt(const QDBusObjectPath &prompt, std::function<void(const QVariant &result)> next, Fallback failed);
    void stopWatchingPrompt();
    void search(std::function<void(const Paths &unlocked, const Paths &locked)> next, Fallback failed);
    void unlock(const Paths &objects, std::function<void(const Paths &unlocked)> next, Fallback failed = {});
    void openSession(std::function<void()> next);
    void readFirst();
    void readItem(const QDBusObjectPath &item);
    void removeItems(Fallback then);
    void deleteItems(Paths items, Fallback then);
    // Follows the (object, prompt) answer of a Create call to the object made; fails without one.
    void whenCreated(const QDBusMessage &reply, std::function<void(const QDBusObjectPath &)> next);
    void storeIn(const QDBusObjectPath &collection);
    void createItem(const QDBusObjectPath &collection);
    void finish(bool ok, std::optional<QByteArray> secret = std::nullopt);
    void fail() { finish(false); }

    QDBusConnection m_bus;
    std::chrono::milliseconds m_callTimeout;
    Done m_done;
    QString m_key;
    QString m_label;
    QByteArray m_secret;
    QDBusObjectPath m_session;
    // The prompt being waited for: its path and what follows its answer.
    QString m_promptPath;
    std::function<void(const QVariant &)> m_promptNext;
    Fallback m_promptFailed;
};

} // namespace quillpost
