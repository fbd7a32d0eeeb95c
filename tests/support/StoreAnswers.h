#pragma once

#include "platform/SecretStore.h"

#include <QTest>

#include <optional>

namespace quillpost::test {

// What a secret store answered to the operations started through this object; the store
// answers on the event loop, so each stays empty until then.
struct StoreAnswers
{
    std::optional<std::optional<QString>> read;
    std::optional<bool> saved;
    QObject context; // the receiver: its answers go nowhere once this object is gone

    StoreAnswers &readFrom(SecretStore &store)
    {
        store.read(&context, [this](std::optional<QString> value) { read = value; });
        return *this;
    }
    StoreAnswers &saveTo(SecretStore &store, const QString &token)
    {
        store.save(token, &context, [this](bool ok) { saved = ok; });
        return *this;
    }
};

// What the store holds once the operations started before have finished.
inline std::optional<QString> storedToken(SecretStore &store)
{
    StoreAnswers answers;
    answers.readFrom(store);
    return QTest::qWaitFor([&] { return answers.read.has_value(); }, 10000) ? *answers.read : std::nullopt;
}

inline bool saveNow(SecretStore &store, const QString &token)
{
    StoreAnswers answers;
    answers.saveTo(store, token);
    return QTest::qWaitFor([&] { return answers.saved.has_value(); }, 10000) && *answers.saved;
}

} // namespace quillpost::test
