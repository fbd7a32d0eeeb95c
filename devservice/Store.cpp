#include "Store.h"

#include "Crypto.h"
#include "TextRules.h"

#include <sqlite3.h>

#include <algorithm>

namespace quillpost::devservice {

namespace {

constexpr const char *schema = R"sql(
PRAGMA foreign_keys = ON;
CREATE TABLE IF NOT EXISTS users (
    id INTEGER PRIMARY KEY,
    phone TEXT NOT NULL UNIQUE,
    nickname TEXT NOT NULL,
    avatar_data TEXT,
    created_ms INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS tokens (
    hash TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    created_ms INTEGER NOT NULL,
    revoked_ms INTEGER
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS codes (
    phone TEXT PRIMARY KEY,
    code TEXT NOT NULL,
    sent_ms INTEGER NOT NULL,
    expires_ms INTEGER NOT NULL,
    failures INTEGER NOT NULL DEFAULT 0
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS spaces (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    color TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS members (
    space_id INTEGER NOT NULL REFERENCES spaces(id),
    user_id INTEGER NOT NULL REFERENCES users(id),
    can_edit INTEGER NOT NULL,
    PRIMARY KEY (space_id, user_id)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS clips (
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    id TEXT NOT NULL UNIQUE,
    owner_id INTEGER NOT NULL REFERENCES users(id),
    space_id INTEGER REFERENCES spaces(id),
    title TEXT NOT NULL,
    raw_text TEXT NOT NULL,
    optimized_text TEXT NOT NULL,
    status TEXT NOT NULL,
    optimize_status TEXT NOT NULL,
    updated_ms INTEGER NOT NULL,
    device_name TEXT NOT NULL,
    favorite INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS clips_by_owner ON clips (owner_id, seq);
CREATE INDEX IF NOT EXISTS clips_by_space ON clips (space_id, seq);
CREATE INDEX IF NOT EXISTS clips_pending ON clips (optimize_status);
CREATE TABLE IF NOT EXISTS meta (
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL
) WITHOUT ROWID;
)sql";

// The clips a user may see: their own personal clips and every clip of a space they belong to.
#define QP_VISIBLE_CLIPS                                                                                \
    "SELECT c.id, c.title, c.raw_text, c.optimized_text, c.status, c.optimize_status, c.updated_ms, "   \
    "c.device_name, CASE WHEN c.space_id IS NULL THEN 1 ELSE m.can_edit END, c.favorite, "            \
    "IFNULL(s.name, ''), IFNULL(s.color, '') "                                                         \
    "FROM clips c LEFT JOIN spaces s ON s.id = c.space_id "                                            \
    "LEFT JOIN members m ON m.space_id = c.space_id AND m.user_id = ?1 "                               \
    "WHERE ((c.space_id IS NULL AND c.owner_id = ?1) OR m.user_id IS NOT NULL) "

constexpr const char *listClipsSql = QP_VISIBLE_CLIPS "ORDER BY c.seq DESC LIMIT ?2";
constexpr const char *oneClipSql = QP_VISIBLE_CLIPS "AND c.id = ?2";

// A clip's time stamp moves forward on every change, also when two changes share a millisecond.
std::int64_t nextStamp(std::int64_t previousMs, std::int64_t nowMs)
{
    return std::max(nowMs, previousMs + 1);
}

} // namespace

// A prepared statement from the store's cache, reset and unbound when it goes out of scope.
class Store::Statement
{
public:
    Statement(Store &store, const char *sql) : m_store(store)
    {
        auto found = store.m_statements.find(sql);
        if (found == store.m_statements.end()) {
            sqlite3_stmt *prepared = nullptr;
            if (sqlite3_prepare_v3(store.m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr) != SQLITE_OK)
                store.fail("prepare");
            found = store.m_statements.emplace(sql, prepared).first;
        }
        m_statement = found->second;
    }
    ~Statement()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, const std::string &text)
    {
        check(sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement &bind(int index, std::int64_t value)
    {
        check(sqlite3_bind_int64(m_statement, index, value));
        return *this;
    }
    Statement &bind(int index, std::nullopt_t)
    {
        check(sqlite3_bind_null(m_statement, index));
        return *this;
    }
    template<typename T>
    Statement &bind(int index, const std::optional<T> &value)
    {
        return value ? bind(index, *value) : bind(index, std::nullopt);
    }

    // True while there is a row.
    bool step()
    {
        const int result = sqlite3_step(m_statement);
        if (result == SQLITE_ROW)
            return true;
        if (result != SQLITE_DONE)
            m_store.fail("step");
        return false;
    }
    void run()
    {
        while (step()) {
        }
    }

    std::string text(int column) const
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                    : std::string();
    }
    std::optional<std::string> optionalText(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return std::nullopt;
        return text(column);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }

private:
    void check(int result)
    {
        if (result != SQLITE_OK)
            m_store.fail("bind");
    }

    Store &m_store;
    sqlite3_stmt *m_statement = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when left without commit (by an exception).
class Store::Transaction
{
public:
    explicit Transaction(Store &store) : m_store(store) { m_store.exec("BEGIN IMMEDIATE"); }
    ~Transaction()
    {
        if (!m_done)
            sqlite3_exec(m_store.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit()
    {
        m_store.exec("COMMIT");
        m_done = true;
    }

private:
    Store &m_store;
    bool m_done = false;
};

Store::Store(const std::string &path)
{
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw StoreError("cannot open the database " + path + ": " + message);
    }
    try {
        sqlite3_busy_timeout(m_db, 5000);
        if (path != ":memory:") {
            exec("PRAGMA journal_mode = WAL");
            exec("PRAGMA synchronous = NORMAL");
        }
        exec(schema);
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

Store::~Store()
{
    for (auto &[sql, statement] : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

void Store::fail(const char *what)
{
    throw StoreError(std::string("database ") + what + " failed: " + sqlite3_errmsg(m_db));
}

void Store::exec(const char *sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail("statement");
}

Store::CodeRequest Store::requestCode(const std::string &phone, const std::string &code, std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    {
        Statement previous(*this, "SELECT sent_ms FROM codes WHERE phone = ?1");
        previous.bind(1, phone);
        if (previous.step()) {
            const std::int64_t elapsed = nowMs - previous.integer(0);
            if (elapsed >= 0 && elapsed < resendIntervalMs) {
                // Round up: "1 秒" until the very last millisecond.
                return {false, (resendIntervalMs - elapsed + 999) / 1000};
            }
        }
    }
    Statement store(*this, "INSERT OR REPLACE INTO codes (phone, code, sent_ms, expires_ms, failures) "
                           "VALUES (?1, ?2, ?3, ?4, 0)");
    store.bind(1, phone).bind(2, code).bind(3, nowMs).bind(4, nowMs + codeLifetimeMs).run();
    transaction.commit();
    return {true, 0};
}

std::optional<User> Store::selectUser(const char *sql, const std::string &key)
{
    Statement select(*this, sql);
    select.bind(1, key);
    if (!select.step())
        return std::nullopt;
    return User{select.integer(0), select.text(1), select.text(2), select.optionalText(3)};
}

Store::SignIn Store::signIn(const std::string &phone, const std::string &code, const std::string &nickname,
                            const std::string &tokenHash, std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    {
        Statement stored(*this, "SELECT code, expires_ms, failures FROM codes WHERE phone = ?1");
        stored.bind(1, phone);
        if (!stored.step() || stored.integer(1) <= nowMs || stored.integer(2) >= maxCodeFailures)
            return {};
        if (!constantTimeEquals(stored.text(0), code)) {
            // Too many wrong guesses spend the code: six digits must not be found by trying.
            Statement failed(*this, "UPDATE codes SET failures = failures + 1 WHERE phone = ?1");
            failed.bind(1, phone).run();
            transaction.commit();
            return {};
        }
    }

    constexpr const char *byPhone = "SELECT id, phone, nickname, avatar_data FROM users WHERE phone = ?1";
    std::optional<User> user = selectUser(byPhone, phone);
    if (!user) {
        if (nickname.empty())
            return {SignIn::Kind::NeedsNickname, {}};
        Statement create(*this, "INSERT INTO users (phone, nickname, created_ms) VALUES (?1, ?2, ?3)");
        create.bind(1, phone).bind(2, nickname).bind(3, nowMs).run();
        user = selectUser(byPhone, phone);
    }
    // One use: the code expires now, but its send time still paces the next request.
    Statement spend(*this, "UPDATE codes SET expires_ms = 0 WHERE phone = ?1");
    spend.bind(1, phone).run();
    Statement token(*this, "INSERT INTO tokens (hash, user_id, created_ms) VALUES (?1, ?2, ?3)");
    token.bind(1, tokenHash).bind(2, user->id).bind(3, nowMs).run();
    transaction.commit();
    return {SignIn::Kind::SignedIn, *user};
}

std::optional<User> Store::userForToken(const std::string &tokenHash)
{
    std::lock_guard lock(m_mutex);
    return selectUser("SELECT u.id, u.phone, u.nickname, u.avatar_data FROM tokens t JOIN users u ON u.id = t.user_id "
                      "WHERE t.hash = ?1 AND t.revoked_ms IS NULL",
                      tokenHash);
}

void Store::revokeToken(const std::string &tokenHash, std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Statement revoke(*this, "UPDATE tokens SET revoked_ms = ?2 WHERE hash = ?1 AND revoked_ms IS NULL");
    revoke.bind(1, tokenHash).bind(2, nowMs).run();
}

namespace {

template<typename Row>
ClipView clipFromRow(const Row &row)
{
    return ClipView{row.text(0),  row.text(1),         row.text(2),        row.text(3),   row.text(4),
                    row.text(5),  row.integer(6),      row.text(7),        row.integer(8) != 0,
                    row.integer(9) != 0, row.text(10), row.text(11)};
}

} // namespace

Store::ClipList Store::clipsFor(std::int64_t userId, std::int64_t limit)
{
    std::lock_guard lock(m_mutex);
    Statement select(*this, listClipsSql);
    select.bind(1, userId).bind(2, limit);
    ClipList list{{}, m_version};
    list.clips.reserve(static_cast<std::size_t>(std::max<std::int64_t>(limit, 0)));
    while (select.step())
        list.clips.push_back(clipFromRow(select));
    return list;
}

std::uint64_t Store::version()
{
    std::lock_guard lock(m_mutex);
    return m_version;
}

std::optional<ClipView> Store::selectClip(std::int64_t userId, const std::string &clipId)
{
    Statement select(*this, oneClipSql);
    select.bind(1, userId).bind(2, clipId);
    if (!select.step())
        return std::nullopt;
    return clipFromRow(select);
}

std::vector<Space> Store::spacesFor(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    Statement select(*this, "SELECT s.id, s.name, s.color, m.can_edit FROM spaces s "
                            "JOIN members m ON m.space_id = s.id AND m.user_id = ?1 ORDER BY s.id");
    select.bind(1, userId);
    std::vector<Space> spaces;
    while (select.step())
        spaces.push_back({select.integer(0), select.text(1), select.text(2), select.integer(3) != 0});
    return spaces;
}

Store::Written Store::updateClip(std::int64_t userId, const std::string &clipId, const std::string &title,
                                 const std::string &rawText, const std::string &optimizedText, std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    const std::optional<ClipView> current = selectClip(userId, clipId);
    if (!current)
        return {Access::NotFound, {}};
    if (!current->canEdit)
        return {Access::Forbidden, {}};
    // An optimized text written by the user while the service is still working on one wins: the
    // pending optimization is settled so that it cannot overwrite the edit later.
    Statement update(*this, "UPDATE clips SET title = ?2, raw_text = ?3, optimized_text = ?4, updated_ms = ?5, "
                            "status = CASE WHEN optimize_status = 'pending' AND ?4 <> '' THEN 'ready' ELSE status END, "
                            "optimize_status = CASE WHEN optimize_status = 'pending' AND ?4 <> '' THEN 'done' "
                            "ELSE optimize_status END "
                            "WHERE id = ?1");
    update.bind(1, clipId).bind(2, title).bind(3, rawText).bind(4, optimizedText);
    update.bind(5, nextStamp(current->updatedMs, nowMs)).run();
    Written written{Access::Ok, *selectClip(userId, clipId)};
    transaction.commit();
    ++m_version;
    return written;
}

Store::Written Store::createClip(std::int64_t userId, const NewClip &clip, std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    if (clip.spaceId) {
        Statement member(*this, "SELECT can_edit FROM members WHERE space_id = ?1 AND user_id = ?2");
        member.bind(1, *clip.spaceId).bind(2, userId);
        if (!member.step())
            return {Access::NotFound, {}};
        if (member.integer(0) == 0)
            return {Access::Forbidden, {}};
    }
    const std::string clipId = randomHex(8);
    Statement insert(*this, "INSERT INTO clips (id, owner_id, space_id, title, raw_text, optimized_text, status, "
                            "optimize_status, updated_ms, device_name) "
                            "VALUES (?1, ?2, ?3, ?4, ?5, '', 'processing', 'pending', ?6, ?7)");
    insert.bind(1, clipId).bind(2, userId).bind(3, clip.spaceId).bind(4, clip.title).bind(5, clip.rawText);
    insert.bind(6, nowMs).bind(7, clip.deviceName).run();
    Written written{Access::Ok, *selectClip(userId, clipId)};
    transaction.commit();
    ++m_version;
    return written;
}

bool Store::finishOptimize(const std::string &clipId, std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    std::int64_t previousMs = 0;
    std::string rawText;
    {
        Statement current(*this, "SELECT updated_ms, raw_text FROM clips WHERE id = ?1 AND optimize_status = 'pending'");
        current.bind(1, clipId);
        if (!current.step())
            return false;
        previousMs = current.integer(0);
        rawText = current.text(1);
    }
    Statement update(*this, "UPDATE clips SET optimized_text = ?2, status = 'ready', optimize_status = 'done', "
                            "updated_ms = ?3 WHERE id = ?1");
    update.bind(1, clipId).bind(2, tidy(rawText)).bind(3, nextStamp(previousMs, nowMs)).run();
    transaction.commit();
    ++m_version;
    return true;
}

std::vector<std::string> Store::pendingClips()
{
    std::lock_guard lock(m_mutex);
    Statement select(*this, "SELECT id FROM clips WHERE optimize_status = 'pending' ORDER BY seq");
    std::vector<std::string> pending;
    while (select.step())
        pending.push_back(select.text(0));
    return pending;
}

bool Store::seedOnce(const std::string &key, const SeedData &seed, std::int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    {
        Statement seeded(*this, "SELECT 1 FROM meta WHERE key = ?1");
        seeded.bind(1, key);
        if (seeded.step())
            return false;
    }
    std::vector<std::int64_t> accountIds;
    for (const SeedData::Account &account : seed.accounts) {
        // An account that signed in before the seeding keeps its own name and picture.
        Statement insert(*this, "INSERT OR IGNORE INTO users (phone, nickname, avatar_data, created_ms) "
                                "VALUES (?1, ?2, ?3, ?4)");
        insert.bind(1, account.phone).bind(2, account.nickname).bind(3, account.avatarData).bind(4, nowMs).run();
        accountIds.push_back(selectUser("SELECT id, phone, nickname, avatar_data FROM users WHERE phone = ?1",
                                        account.phone)->id);
    }
    std::vector<std::int64_t> spaceIds;
    for (const SeedData::CollaborationSpace &space : seed.spaces) {
        Statement insert(*this, "INSERT INTO spaces (name, color) VALUES (?1, ?2)");
        insert.bind(1, space.name).bind(2, space.color).run();
        spaceIds.push_back(sqlite3_last_insert_rowid(m_db));
        for (const SeedData::Membership &member : space.members) {
            Statement join(*this, "INSERT INTO members (space_id, user_id, can_edit) VALUES (?1, ?2, ?3)");
            join.bind(1, spaceIds.back()).bind(2, accountIds.at(member.account));
            join.bind(3, std::int64_t(member.canEdit)).run();
        }
    }
    for (const SeedData::Item &item : seed.items) {
        Statement insert(*this, "INSERT INTO clips (id, owner_id, space_id, title, raw_text, optimized_text, status, "
                                "optimize_status, updated_ms, device_name, favorite) "
                                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
        insert.bind(1, randomHex(8)).bind(2, accountIds.at(item.owner));
        insert.bind(3, item.space ? std::optional(spaceIds.at(*item.space)) : std::nullopt);
        insert.bind(4, item.title).bind(5, item.rawText).bind(6, item.optimizedText).bind(7, item.status);
        insert.bind(8, item.optimizeStatus).bind(9, nowMs - item.ageMs).bind(10, item.deviceName);
        insert.bind(11, std::int64_t(item.favorite)).run();
    }
    Statement mark(*this, "INSERT INTO meta (key, value) VALUES (?1, ?2)");
    mark.bind(1, key).bind(2, isoTimestamp(nowMs)).run();
    transaction.commit();
    ++m_version;
    return true;
}

} // namespace quillpost::devservice
