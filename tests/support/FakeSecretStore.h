#pragma once

#include "platform/SecretStore.h"

#include <QPointer>

#include <deque>

namespace quillpost::test {

// An in-memory secret store for screen tests; counts the calls so that tests can tell whether
// the screen touched it. It answers at once (callbacks still come later, from the event loop),
// or, with `answers` false, like a store that hangs: operations wait in order until the test
// calls answer() or giveUp(). A remove abandons the saves still waiting, as the real store does.
class FakeSecretStore final : public SecretStore
{
public:
    std::optional<QString> stored;
    int saves = 0;
    int removes = 0;
    bool answers = true;

    void read(const QObject *receiver, std::function<void(std::optional<QString>)> done) override
    {
        push({Kind::Read, {}, receiver, std::move(done), {}});
    }
    void save(const QString &token, const QObject *receiver, std::function<void(bool)> done) override
    {
        ++saves;
        push({Kind::Save, token, receiver, {}, std::move(done)});
    }
    void remove() override
    {
        ++removes;
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->kind == Kind::Save) {
                finish(*it, false);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
        push({Kind::Remove, {}, nullptr, {}, {}});
    }

    qsizetype pending() const { return qsizetype(m_pending.size()); }
    // The waiting operations complete, in order.
    void answer()
    {
        while (!m_pending.empty()) {
            const Operation operation = std::move(m_pending.front());
            m_pending.pop_front();
            finish(operation, true);
        }
    }
    // The waiting operations give up: reads find nothing, saves store nothing.
    void giveUp()
    {
        while (!m_pending.empty()) {
            const Operation operation = std::move(m_pending.front());
            m_pending.pop_front();
            finish(operation, false);
        }
    }

private:
    enum class Kind { Read, Save, Remove };
    struct Operation
    {
        Kind kind;
        QString token;
        QPointer<const QObject> receiver;
        std::function<void(std::optional<QString>)> onRead;
        std::function<void(bool)> onSave;
    };

    void push(Operation operation)
    {
        m_pending.push_back(std::move(operation));
        if (answers)
            answer();
    }
    void finish(const Operation &operation, bool ok)
    {
        if (ok && operation.kind == Kind::Save)
            stored = operation.token;
        if (ok && operation.kind == Kind::Remove)
            stored.reset();
        auto *receiver = const_cast<QObject *>(operation.receiver.data());
        if (!receiver)
            return;
        if (operation.onRead) {
            const std::optional<QString> value = ok ? stored : std::nullopt;
            QMetaObject::invokeMethod(receiver, [done = operation.onRead, value] { done(value); }, Qt::QueuedConnection);
        }
        if (operation.onSave)
            QMetaObject::invokeMethod(receiver, [done = operation.onSave, ok] { done(ok); }, Qt::QueuedConnection);
    }

    std::deque<Operation> m_pending;
};

} // namespace quillpost::test
