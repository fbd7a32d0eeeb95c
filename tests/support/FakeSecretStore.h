#pragma once

#include "platform/SecretStore.h"

namespace quillpost::test {

// An in-memory secret store for screen tests; counts the calls so that tests can tell whether
// the screen touched it.
class FakeSecretStore final : public SecretStore
{
public:
    std::optional<QString> stored;
    int reads = 0;
    int saves = 0;
    int removes = 0;

    std::optional<QString> read() override
    {
        ++reads;
        return stored;
    }
    void save(const QString &token) override
    {
        ++saves;
        stored = token;
    }
    void remove() override
    {
        ++removes;
        stored.reset();
    }
};

} // namespace quillpost::test
