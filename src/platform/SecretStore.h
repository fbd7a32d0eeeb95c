#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quillpost {

// Keeps one secret (the session token) for the user across runs. A failed read is absent,
// save replaces, remove is idempotent, and nothing reports an error.
//
// The store may be slow or never answer (a locked keyring waiting for the user at its unlock
// prompt, a service that hangs), so every operation returns at once and finishes later, on the
// GUI thread. A store that does not answer is given up after a bounded time; a prompt that the
// store shows waits for the user, however long that takes. The operations run one after another
// in the order they were started. A callback never runs inside the call that started it, and
// never once its `receiver` is gone.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // Gives `done` the stored token, or nothing when there is none, it cannot be read or the
    // store gave up.
    virtual void read(const QObject *receiver, std::function<void(std::optional<QString>)> done) = 0;
    // Replaces the stored token; `done` learns whether the token was stored.
    virtual void save(const QString &token, const QObject *receiver, std::function<void(bool saved)> done) = 0;
    // Removes the stored token in the background. A save started earlier that has not finished
    // yet is abandoned (it reports not stored), so that it cannot bring the token back.
    virtual void remove() = 0;
};

} // namespace quillpost
