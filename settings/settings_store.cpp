#include "settings/settings_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <limits>
#include <utility>

#include "platform/xdg_paths.h"

namespace orvalin {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCompany = "Quenbridge";
constexpr const char* kApplication = "Orvalin";
constexpr const char* kFileName = "settings.db";

constexpr unsigned kFolderMode = 0700;
// The store holds the SMTP password.
constexpr mode_t kFileMode = 0600;
// Long enough to outlast any other writer; a write takes milliseconds.
constexpr int kBusyTimeoutMs = 10000;

// The value column has no declared type, so SQLite keeps each value as it was
// bound: INTEGER or TEXT. The check keeps foreign types and wide integers out.
constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS setting ("
    " section TEXT NOT NULL,"
    " key TEXT NOT NULL,"
    " value NOT NULL CHECK (typeof(value) = 'text' OR (typeof(value) = 'integer'"
    " AND value BETWEEN -2147483648 AND 2147483647)),"
    " PRIMARY KEY (section, key)) WITHOUT ROWID";
constexpr const char* kReplaceValue =
    "INSERT OR REPLACE INTO setting (section, key, value) VALUES (?1, ?2, ?3)";
constexpr const char* kSelectValue =
    "SELECT section, key, value FROM setting WHERE section = ?1 AND key = ?2";
constexpr const char* kSelectAll = "SELECT section, key, value FROM setting ORDER BY section, key";

using Value = std::variant<std::int32_t, std::string>;

// One connection, used by one thread for one operation and closed after it.
class Connection {
  public:
    Connection(const fs::path& file, int flags) {
        if (sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
            return;
        }
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    }
    ~Connection() { sqlite3_close(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* Handle() const { return db_; }
    bool Execute(const char* sql) {
        return db_ != nullptr && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

  private:
    sqlite3* db_ = nullptr;
};

class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (db != nullptr) {
            sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool IsReady() const { return stmt_ != nullptr; }

    bool BindText(int index, std::string_view text) {
        // An empty view may carry a null pointer, which SQLite would bind as NULL.
        const char* data = text.data() != nullptr ? text.data() : "";
        return sqlite3_bind_text64(stmt_, index, data, text.size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8) == SQLITE_OK;
    }
    bool BindInt(int index, std::int32_t number) {
        return sqlite3_bind_int(stmt_, index, number) == SQLITE_OK;
    }
    bool BindValue(int index, const Value& value) {
        if (const auto* number = std::get_if<std::int32_t>(&value)) {
            return BindInt(index, *number);
        }
        return BindText(index, std::get<std::string>(value));
    }

    int Step() { return sqlite3_step(stmt_); }

    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return text != nullptr ? std::string(reinterpret_cast<const char*>(text), size)
                               : std::string();
    }
    // The column as a stored value; nothing for a type the store does not hold.
    std::optional<Value> ValueAt(int column) const {
        switch (sqlite3_column_type(stmt_, column)) {
            case SQLITE_INTEGER: {
                const sqlite3_int64 number = sqlite3_column_int64(stmt_, column);
                if (number < std::numeric_limits<std::int32_t>::min() ||
                    number > std::numeric_limits<std::int32_t>::max()) {
                    return std::nullopt;
                }
                return Value(static_cast<std::int32_t>(number));
            }
            case SQLITE_TEXT:
                return Value(Text(column));
            default:
                return std::nullopt;
        }
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Runs a query and collects its rows. The result code is SQLITE_DONE when
// every row was read.
int CollectRows(const fs::path& file, int openFlags, const char* sql,
                std::initializer_list<std::string_view> params, std::vector<StoredValue>& rows) {
    Connection connection(file, openFlags);
    Statement query(connection.Handle(), sql);
    if (!query.IsReady()) {
        return connection.Handle() != nullptr ? sqlite3_errcode(connection.Handle())
                                              : SQLITE_CANTOPEN;
    }
    int index = 1;
    for (const std::string_view param : params) {
        if (!query.BindText(index++, param)) {
            return SQLITE_ERROR;
        }
    }
    int rc = SQLITE_ROW;
    while ((rc = query.Step()) == SQLITE_ROW) {
        if (auto value = query.ValueAt(2)) {
            rows.push_back(StoredValue{query.Text(0), query.Text(1), std::move(*value)});
        }
    }
    return rc;
}

// Reads never open the file for writing, so they cannot create it. A writer
// that died mid-transaction leaves a hot journal that only a read-write
// connection can roll back; that case alone is read again through one (it
// still never creates the file).
std::vector<StoredValue> ReadRows(const fs::path& file, const char* sql,
                                  std::initializer_list<std::string_view> params) {
    std::vector<StoredValue> rows;
    int rc = CollectRows(file, SQLITE_OPEN_READONLY, sql, params, rows);
    if ((rc & 0xff) == SQLITE_READONLY) {
        rows.clear();
        rc = CollectRows(file, SQLITE_OPEN_READWRITE, sql, params, rows);
    }
    if (rc != SQLITE_DONE) {
        rows.clear();
    }
    return rows;
}

// Makes an empty, private database file unless something already exists at
// that path. The file is made under a temporary name and linked into place,
// so it never shows looser permissions, and no descriptor of the real file is
// closed here: closing one would drop the POSIX locks SQLite holds on it for
// other threads of this process.
bool CreatePrivateFile(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        return true;
    }
    if (errno != ENOENT) {
        return false;
    }
    const fs::path folder = file.parent_path();
    if (!folder.empty() && !MakeFolders(folder, kFolderMode)) {
        return false;
    }
    std::string temp = (folder / (file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    ::fchmod(fd, kFileMode);
    ::close(fd);
    bool created = ::link(temp.c_str(), file.c_str()) == 0 || errno == EEXIST;
    const bool linkUnsupported = !created && (errno == EPERM || errno == ENOTSUP);
    ::unlink(temp.c_str());
    if (linkUnsupported) {
        // A file system without hard links: create the file in place instead.
        const int direct = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
        if (direct >= 0) {
            ::fchmod(direct, kFileMode);
            ::close(direct);
        }
        created = direct >= 0 || errno == EEXIST;
    }
    return created;
}

bool WriteValue(const fs::path& file, std::string_view section, std::string_view key,
                const Value& value) {
    if (!CreatePrivateFile(file)) {
        return false;
    }
    // Never SQLITE_OPEN_CREATE: the file was made above with its permissions.
    Connection connection(file, SQLITE_OPEN_READWRITE);
    // IMMEDIATE takes the write lock at once, so the busy timeout covers the
    // whole wait for other writers, in this process or another.
    if (!connection.Execute("BEGIN IMMEDIATE")) {
        return false;
    }
    bool stored = connection.Execute(kCreateTable);
    if (stored) {
        Statement replace(connection.Handle(), kReplaceValue);
        stored = replace.IsReady() && replace.BindText(1, section) && replace.BindText(2, key) &&
                 replace.BindValue(3, value) && replace.Step() == SQLITE_DONE;
    }
    stored = stored && connection.Execute("COMMIT");
    if (!stored) {
        connection.Execute("ROLLBACK");
    }
    return stored;
}

}  // namespace

fs::path SettingsStore::DefaultPath() {
    return XdgConfigHome() / kCompany / kApplication / kFileName;
}

SettingsStore::SettingsStore(fs::path dbFile) : dbFile_(std::move(dbFile)) {}

std::int32_t SettingsStore::ReadInt(std::string_view section, std::string_view key,
                                    std::int32_t fallback) const {
    const auto held = Get(section, key);
    if (held && std::holds_alternative<std::int32_t>(held->value)) {
        return std::get<std::int32_t>(held->value);
    }
    return fallback;
}

std::string SettingsStore::ReadString(std::string_view section, std::string_view key,
                                      std::string_view fallback) const {
    auto held = Get(section, key);
    if (held && std::holds_alternative<std::string>(held->value)) {
        return std::get<std::string>(std::move(held->value));
    }
    return std::string(fallback);
}

bool SettingsStore::WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
    return WriteValue(dbFile_, section, key, Value(value));
}

bool SettingsStore::WriteString(std::string_view section, std::string_view key,
                                std::string_view value) {
    return WriteValue(dbFile_, section, key, Value(std::string(value)));
}

std::optional<StoredValue> SettingsStore::Get(std::string_view section,
                                              std::string_view key) const {
    auto rows = ReadRows(dbFile_, kSelectValue, {section, key});
    if (rows.empty()) {
        return std::nullopt;
    }
    return std::move(rows.front());
}

std::vector<StoredValue> SettingsStore::List() const {
    return ReadRows(dbFile_, kSelectAll, {});
}

}  // namespace orvalin
