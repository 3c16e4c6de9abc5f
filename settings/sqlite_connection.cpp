#include "settings/sqlite_connection.h"

#include <sqlite3.h>

#include <cstring>
#include <limits>

namespace orvalin::store_db {

namespace {

// NORMAL with the write-ahead log: a commit survives a crash of the program
// without a sync of its own; the log is synced only when it is copied back
// into the database. The log keeps its file and is cut back to this size.
constexpr const char* kConnectionSetup =
    "PRAGMA synchronous = NORMAL; PRAGMA journal_size_limit = 1048576";

// The store holds a few pages. By default every connection sets aside about
// 200 KB up front (a page cache of 20 pages and a lookaside of 100 slots) and
// writes to all of it, which costs a short-lived program such as
// `orvalind --once` more than its reads; without them memory is taken as it
// is used. Must run before SQLite's first use in the process, or it changes
// nothing.
bool ConfigureLibrary() {
    sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0);
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    return true;
}

}  // namespace

std::unique_ptr<Connection> Connection::Open(const std::filesystem::path& file,
                                             store_file::Identity identity, int busyTimeoutMs,
                                             DbError& error) {
    static const bool configured = ConfigureLibrary();
    static_cast<void>(configured);
    sqlite3* db = nullptr;
    // Never SQLITE_OPEN_CREATE: a new file is made with its permissions first.
    const int rc =
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = DbError{rc, db != nullptr ? sqlite3_system_errno(db) : 0};
        sqlite3_close(db);
        return nullptr;
    }
    // A connection closing after its file was deleted or replaced must not
    // delete the log and index by name: by then they may belong to the new
    // file. So they stay, emptied, when the last connection closes.
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    std::unique_ptr<Connection> connection(new Connection(db, identity, busyTimeoutMs));
    if (!connection->Execute(kConnectionSetup)) {
        error = connection->LastError();
        return nullptr;
    }
    return connection;
}

Connection::Connection(sqlite3* db, store_file::Identity identity, int busyTimeoutMs)
    : db_(db), identity_(identity), busyTimeoutMs_(busyTimeoutMs) {
    sqlite3_busy_timeout(db_, busyTimeoutMs_);
}

Connection::~Connection() {
    // A connection with statements left open would not close.
    for (const auto& [sql, stmt] : prepared_) {
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db_);
}

bool Connection::Execute(const char* sql) {
    // Several statements are run as they come; one is kept prepared.
    if (std::strchr(sql, ';') != nullptr) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    Statement statement(*this, sql);
    int rc = statement.IsReady() ? SQLITE_ROW : SQLITE_ERROR;
    while (rc == SQLITE_ROW) {
        rc = statement.Step();
    }
    return rc == SQLITE_DONE;
}

sqlite3_stmt* Connection::TakePrepared(const char* sql) const {
    if (const auto kept = prepared_.find(sql); kept != prepared_.end()) {
        sqlite3_stmt* stmt = kept->second;
        prepared_.erase(kept);
        return stmt;
    }
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    return stmt;
}

void Connection::KeepPrepared(const char* sql, sqlite3_stmt* stmt) const {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    // A statement used twice at once is kept once.
    if (!prepared_.emplace(sql, stmt).second) {
        sqlite3_finalize(stmt);
    }
}

DbError Connection::LastError() const {
    return DbError{sqlite3_errcode(db_), sqlite3_system_errno(db_)};
}

bool Connection::EndOpenTransaction() {
    if (sqlite3_get_autocommit(db_) != 0) {
        return true;
    }
    return Execute("ROLLBACK");
}

void Connection::SetBusyTimeout(int ms) {
    if (ms != busyTimeoutMs_) {
        busyTimeoutMs_ = ms;
        sqlite3_busy_timeout(db_, ms);
    }
}

void Connection::UseWriteAheadLog() {
    if (inWal_) {
        return;
    }
    Statement mode(*this, "PRAGMA journal_mode = WAL");
    inWal_ = mode.IsReady() && mode.Step() == SQLITE_ROW && mode.Text(0) == "wal";
}

Statement::Statement(const Connection& connection, const char* sql)
    : connection_(connection), sql_(sql), stmt_(connection.TakePrepared(sql)) {}

Statement::~Statement() {
    if (stmt_ != nullptr) {
        connection_.KeepPrepared(sql_, stmt_);
    }
}

bool Statement::BindText(int index, std::string_view text) {
    // An empty view may carry a null pointer, which SQLite would bind as NULL.
    const char* data = text.data() != nullptr ? text.data() : "";
    return sqlite3_bind_text64(stmt_, index, data, text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) ==
           SQLITE_OK;
}

bool Statement::BindValue(int index, const SettingValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return sqlite3_bind_int(stmt_, index, *number) == SQLITE_OK;
    }
    return BindText(index, std::get<std::string>(value));
}

int Statement::Step() {
    return sqlite3_step(stmt_);
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::string Statement::Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
}

std::optional<SettingValue> Statement::ValueAt(int column) const {
    switch (sqlite3_column_type(stmt_, column)) {
        case SQLITE_INTEGER: {
            const sqlite3_int64 number = sqlite3_column_int64(stmt_, column);
            if (number < std::numeric_limits<std::int32_t>::min() ||
                number > std::numeric_limits<std::int32_t>::max()) {
                return std::nullopt;
            }
            return SettingValue(static_cast<std::int32_t>(number));
        }
        case SQLITE_TEXT:
            return SettingValue(Text(column));
        default:
            return std::nullopt;
    }
}

}  // namespace orvalin::store_db
