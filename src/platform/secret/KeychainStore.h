#pragma once

#include "platform/SecretStore.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <deque>

class QTimer;
// GLib's types, as its headers declare them.
struct _GAsyncResult;
struct _GCancellable;
struct _GObject;

namespace quillpost {

// The session token in the desktop's Secret Service (gnome-keyring, KWallet): one item in the
// default collection, identified by the attribute service = tokenKey. Another key keeps another
// secret in an item of its own beside it (remoteDesktopKey: the desktop portal's restore token,
// which lets a later run use the remote-desktop consent without asking again).
//
// libsecret's asynchronous calls run on the GLib main context, which Qt's event loop drives on
// Linux; where Qt runs without GLib (QT_NO_GLIB), the store drives that context itself while an
// operation is under way. Each operation is cancelled when it has not finished within the
// timeout or when the store is destroyed.
class KeychainStore final : public SecretStore
{
public:
    static constexpr const char *tokenKey = "com.tallowmere.quillpost.session";
    static constexpr const char *remoteDesktopKey = "com.tallowmere.quillpost.remote-desktop";
    // A healthy keyring answers in 1-10 ms, and in well under a second when D-Bus first has to
    // start it. One that has not answered after 5 s hangs or waits for an unlock prompt; the
    // sign-in screen waits for the save, so the bound is what a user may wait there.
    static constexpr std::chrono::milliseconds defaultTimeout{5000};

    // `key` and `label` (the item's name that keyring managers show) must outlive the store
    // (string literals).
    explicit KeychainStore(const char *key = tokenKey, const char *label = "Quillpost 登录状态");
    ~KeychainStore() override;
    KeychainStore(const KeychainStore &) = delete;
    KeychainStore &operator=(const KeychainStore &) = delete;

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    void read(const QObject *receiver, std::function<void(std::optional<QString>)> done) override;
    void save(const QString &token, const QObject *receiver, std::function<void(bool saved)> done) override;
    void remove() override;

private:
    struct Operation
    {
        enum class Kind { Read, Save, Remove };
        Kind kind = Kind::Remove;
        QString token;
        QPointer<const QObject> receiver;
        std::function<void(std::optional<QString>)> onRead;
        std::function<void(bool)> onSave;
    };
    enum class Step { Lookup, ClearBeforeStore, Store, Clear };
    struct Call;

    void startNext();
    void startStep(Step step);
    static void stepFinished(::_GObject *source, ::_GAsyncResult *result, void *data);
    void finishCurrent(std::optional<QString> token, bool ok);
    void abandonCurrent();
    static void deliver(const Operation &operation, std::optional<QString> token, bool ok);

    const char *m_key;
    const char *m_label;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    // Context of the timers and of the libsecret callbacks: none runs once the store is gone.
    QObject m_context;
    QTimer *m_deadline;
    QTimer *m_glibPump;
    std::deque<Operation> m_queue;
    std::optional<Operation> m_current;
    // Tells the callback of an abandoned operation from that of the current one.
    quint64 m_currentId = 0;
    ::_GCancellable *m_cancellable = nullptr;
};

} // namespace quillpost
