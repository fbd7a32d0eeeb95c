#pragma once

#include <QString>

#include <optional>

namespace quillpost {

// Keeps one secret (the session token) for the user across runs. A failed read is absent,
// save replaces, remove is idempotent, and nothing reports an error.
class SecretStore
{
public:
    virtual ~SecretStore() = default;
    virtual std::optional<QString> read() = 0;
    virtual void save(const QString &token) = 0;
    virtual void remove() = 0;
};

} // namespace quillpost
