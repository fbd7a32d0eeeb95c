#pragma once

#include "platform/SecretStore.h"

namespace quillpost {

// The session token in the desktop's Secret Service (gnome-keyring, KWallet): one item in the
// default collection, identified by the attribute service = tokenKey.
class KeychainStore final : public SecretStore
{
public:
    static constexpr const char *tokenKey = "com.tallowmere.quillpost.session";

    std::optional<QString> read() override;
    void save(const QString &token) override;
    void remove() override;
};

} // namespace quillpost
