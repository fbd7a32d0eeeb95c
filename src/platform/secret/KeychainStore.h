#pragma once

#include "platform/SecretStore.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <deque>

namespace quillpost {

class SecretServiceJob;

// The session token in the desktop's Secret Service (gnome-keyring, KWallet): one item in the
// default collection, identified by the attribute service = tokenKey. Another key keeps another
// secret in an item of its own beside it (remoteDesktopKey: the desktop portal's restore token,
// which lets a later run use the remote-desktop consent without asking again).
//
// The store speaks the service's D-Bus interface on the session bus with asynchronous calls
// (SecretServiceJob, one per operation). A call that gets no answer within the timeout fails its
// operation. A prompt of the service (unlock the keyring, create one) is not bounded: it is the
// user's dialog, and the operation waits until it is answered; the operations started after it
// wait in turn. A job given up (a remove abandons a save, the store goes) is dropped, and a
// prompt it opened is dismissed. The jobs belong to the store, so no reply reaches a store that
// is gone.
class KeychainStore final : public SecretStore
{
public:
    static constexpr const char *tokenKey = "com.tallowmere.quillpost.session";
    static constexpr const char *remoteDesktopKey = "com.tallowmere.quillpost.remote-desktop";
    // A healthy keyring answers a call in 1-10 ms, and in well under a second when D-Bus first
    // has to start it (it answers at once also when it opens a prompt). One that has not answered
    // a call after 5 s hangs; the sign-in screen waits for the save, so the bound is what a user
    // may wait there for a service that hangs.
    static constexpr std::chrono::milliseconds defaultTimeout{5000};

    // `key` and `label` (the item's name that keyring managers show) must outlive the store
    // (string literals).
    explicit KeychainStore(const char *key = tokenKey, const char *label = "Quillpost 登录状态");
    ~KeychainStore() override;
    KeychainStore(const KeychainStore &) = delete;
    KeychainStore &operator=(const KeychainStore &) = delete;

    // How long one call to the service may go unanswered (defaultTimeout unless set).
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

    void startNext();
    void finishCurrent(bool ok, const std::optional<QByteArray> &secret);
    void abandonCurrent();
    static void deliver(const Operation &operation, std::optional<QString> token, bool ok);

    const char *m_key;
    const char *m_label;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    // Parent of the jobs: none of them runs once the store is gone.
    QObject m_context;
    std::deque<Operation> m_queue;
    std::optional<Operation> m_current;
    QPointer<SecretServiceJob> m_job;
};

} // namespace quillpost
