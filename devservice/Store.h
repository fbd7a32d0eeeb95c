#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quillpost::devservice {

// A failure of the database itself (it cannot be opened, the disk is full, ...).
class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct User
{
    std::int64_t id = 0;
    std::string phone;
    std::string nickname;
    std::optional<std::string> avatarData;
};

struct Space
{
    std::int64_t id = 0;
    std::string name;
    std::string color;
    bool canEdit = false;
};

// A clip as one user sees it: `canEdit` depends on who asks.
struct ClipView
{
    std::string id;
    std::string title;
    std::string rawText;
    std::string optimizedText;
    std::string status;
    std::string optimizeStatus;
    std::int64_t updatedMs = 0;
    std::string deviceName;
    bool canEdit = false;
    bool favorite = false;
    std::string collaborationName;
    std::string collaborationColor;
};

struct NewClip
{
    std::string title;
    std::string rawText;
    std::string deviceName;
    std::optional<std::int64_t> spaceId;
};

// Accounts, spaces and clips written at once, e.g. the demo data.
struct SeedData
{
    struct Account
    {
        std::string phone;
        std::string nickname;
        std::optional<std::string> avatarData;
    };
    struct Membership
    {
        std::size_t account = 0; // index into `accounts`
        bool canEdit = false;
    };
    struct CollaborationSpace
    {
        std::string name;
        std::string color;
        std::vector<Membership> members;
    };
    struct Item
    {
        std::size_t owner = 0; // index into `accounts`
        std::optional<std::size_t> space; // index into `spaces`
        std::string title;
        std::string rawText;
        std::string optimizedText;
        std::string status;
        std::string optimizeStatus;
        std::string deviceName;
        bool favorite = false;
        std::int64_t ageMs = 0; // how long before the seeding it was last changed
    };
    std::vector<Account> accounts;
    std::vector<CollaborationSpace> spaces;
    std::vector<Item> items; // oldest first
};

// The service's data in one SQLite database. Every operation is one transaction: a failure
// leaves nothing half written. Thread-safe: one connection behind a mutex.
class Store
{
public:
    static constexpr std::int64_t resendIntervalMs = 60'000;
    static constexpr std::int64_t codeLifetimeMs = 5 * 60'000;
    static constexpr int maxCodeFailures = 5;

    explicit Store(const std::string &path);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Stores a new code for the phone, or tells how many seconds are left before one may be sent.
    struct CodeRequest
    {
        bool sent = false;
        std::int64_t waitSeconds = 0;
    };
    CodeRequest requestCode(const std::string &phone, const std::string &code, std::int64_t nowMs);

    // Checks the phone's code and, when it fits, spends it, creates the account if needed and
    // stores the token hash. A phone without an account and an empty nickname keeps the code.
    struct SignIn
    {
        enum class Kind { BadCode, NeedsNickname, SignedIn } kind = Kind::BadCode;
        User user;
    };
    SignIn signIn(const std::string &phone, const std::string &code, const std::string &nickname,
                  const std::string &tokenHash, std::int64_t nowMs);

    std::optional<User> userForToken(const std::string &tokenHash);
    // A revoked token no longer signs anybody in.
    void revokeToken(const std::string &tokenHash, std::int64_t nowMs);

    // The newest `limit` clips the user may see, with the data version they were read at.
    struct ClipList
    {
        std::vector<ClipView> clips;
        std::uint64_t version = 0;
    };
    ClipList clipsFor(std::int64_t userId, std::int64_t limit);
    // Grows with every write that can change a clip list.
    std::uint64_t version();
    std::vector<Space> spacesFor(std::int64_t userId);

    enum class Access { Ok, NotFound, Forbidden };
    struct Written
    {
        Access access = Access::NotFound;
        ClipView clip;
    };
    Written updateClip(std::int64_t userId, const std::string &clipId, const std::string &title,
                       const std::string &rawText, const std::string &optimizedText, std::int64_t nowMs);
    // Creates a clip with a new random id that waits for its optimized text.
    // NotFound: the space does not exist or the user is not a member; Forbidden: read-only member.
    Written createClip(std::int64_t userId, const NewClip &clip, std::int64_t nowMs);

    // Writes the optimized text (the tidied current raw text) of a clip that is still waiting for
    // it; false when it is not (gone, or settled by an edit).
    bool finishOptimize(const std::string &clipId, std::int64_t nowMs);
    // Ids of the clips still waiting for their optimized text, oldest first.
    std::vector<std::string> pendingClips();

    // Writes `seed` unless a seed under `key` was written before; true when it was written now.
    bool seedOnce(const std::string &key, const SeedData &seed, std::int64_t nowMs);

private:
    class Statement;
    class Transaction;
    [[noreturn]] void fail(const char *what);
    void exec(const char *sql);
    std::optional<ClipView> selectClip(std::int64_t userId, const std::string &clipId);
    std::optional<User> selectUser(const char *sql, const std::string &key);

    std::mutex m_mutex;
    sqlite3 *m_db = nullptr;
    std::uint64_t m_version = 1;
    std::unordered_map<const char *, sqlite3_stmt *> m_statements;
};

} // namespace quillpost::devservice
