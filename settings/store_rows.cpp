#include "settings/store_rows.h"

#include <sqlite3.h>

#include <cctype>
#include <cerrno>
#include <map>
#include <system_error>
#include <utility>

#include "resources/strings.h"
#include "settings/sqlite_connection.h"
#include "settings/store_file.h"

namespace orvalin::store_db {
namespace fs = std::filesystem;

namespace {

// The value column has no declared type, so SQLite keeps each value as it was
// bound: INTEGER or TEXT. The check keeps foreign types and wide integers out.
constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS setting ("
    " section TEXT NOT NULL,"
    " key TEXT NOT NULL,"
    " value NOT NULL CHECK (typeof(value) = 'text' OR (typeof(value) = 'integer'"
    " AND value BETWEEN -2147483648 AND 2147483647)),"
    " PRIMARY KEY (section, key)) WITHOUT ROWID";
constexpr const char* kHasTable =
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'setting'";
constexpr const char* kReplaceValue =
    "INSERT OR REPLACE INTO setting (section, key, value) VALUES (?1, ?2, ?3)";
constexpr const char* kSelectValue =
    "SELECT section, key, value FROM setting WHERE section = ?1 AND key = ?2";
constexpr const char* kSelectAll = "SELECT section, key, value FROM setting";

std::string SystemProblem(int error) {
    if (error == EACCES || error == EPERM) {
        return std::string(text::kStorePermissionDenied);
    }
    std::string message = std::error_code(error, std::generic_category()).message();
    if (!message.empty()) {
        message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    }
    return message;
}

std::string FileProblem(const store_file::State& state) {
    return state.error == 0 ? std::string(text::kStoreNotAFile) : SystemProblem(state.error);
}

std::string DbProblem(const DbError& error) {
    switch (error.code & 0xff) {
        case SQLITE_NOTADB:
            return std::string(text::kStoreNotADatabase);
        case SQLITE_CORRUPT:
            return std::string(text::kStoreDamaged);
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return std::string(text::kStoreLocked);
        case SQLITE_PERM:
            return std::string(text::kStorePermissionDenied);
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_READONLY:
            if (error.systemErrno != 0) {
                return SystemProblem(error.systemErrno);
            }
            if ((error.code & 0xff) == SQLITE_READONLY) {
                // Mostly a folder where the log and its index cannot be made.
                return std::string(text::kStoreReadOnly);
            }
            break;
        default:
            break;
    }
    return sqlite3_errstr(error.code);
}

// Takes the error of the failed step before leaving the transaction, which
// would replace it.
bool Fail(Connection& connection, DbError& error) {
    error = connection.LastError();
    connection.EndOpenTransaction();
    return false;
}

bool CollectRows(Statement& query, std::vector<StoredValue>& rows) {
    int rc = SQLITE_ROW;
    while ((rc = query.Step()) == SQLITE_ROW) {
        if (auto value = query.ValueAt(2)) {
            rows.push_back(StoredValue{query.Text(0), query.Text(1), std::move(*value)});
        }
    }
    return rc == SQLITE_DONE;
}

// Reads in one read transaction every row, or the rows of the given keys. A
// database without the table (a file made by a write that then failed) holds
// no values. afterWriters first waits for the write lock, so that a commit
// another connection is making is complete and seen; where that lock cannot
// be had (a long transaction elsewhere, a read-only file) it reads anyway.
bool ReadRows(Connection& connection, const std::vector<StoredValue>* keys,
              std::vector<StoredValue>& rows, DbError& error, bool afterWriters = false) {
    const bool began = (afterWriters && connection.Execute("BEGIN IMMEDIATE")) ||
                       (connection.EndOpenTransaction() && connection.Execute("BEGIN"));
    if (!began) {
        return Fail(connection, error);
    }
    Statement hasTable(connection, kHasTable);
    const int rc = hasTable.IsReady() ? hasTable.Step() : SQLITE_ERROR;
    bool read = rc == SQLITE_DONE;
    if (rc == SQLITE_ROW) {
        Statement query(connection, keys != nullptr ? kSelectValue : kSelectAll);
        read = query.IsReady();
        if (keys == nullptr) {
            read = read && CollectRows(query, rows);
        }
        for (std::size_t i = 0; keys != nullptr && read && i < keys->size(); ++i) {
            read = query.BindText(1, (*keys)[i].section) && query.BindText(2, (*keys)[i].key) &&
                   CollectRows(query, rows);
            query.Reset();
        }
    }
    if (!read || !connection.Execute("COMMIT")) {
        rows.clear();
        return Fail(connection, error);
    }
    return true;
}

// IMMEDIATE takes the write lock at once, so the busy timeout covers the whole
// wait for other writers, in this process or another.
bool ReplaceRows(Connection& connection, const std::vector<StoredValue>& values) {
    Statement replace(connection, kReplaceValue);
    bool stored = replace.IsReady();
    for (std::size_t i = 0; stored && i < values.size(); ++i) {
        stored = replace.BindText(1, values[i].section) && replace.BindText(2, values[i].key) &&
                 replace.BindValue(3, values[i].value) && replace.Step() == SQLITE_DONE;
        replace.Reset();
    }
    return stored;
}

bool WriteRows(Connection& connection, const std::vector<StoredValue>& values, DbError& error) {
    if (!connection.Execute("BEGIN IMMEDIATE") || !connection.Execute(kCreateTable)) {
        return Fail(connection, error);
    }
    if (!ReplaceRows(connection, values) || !connection.Execute("COMMIT")) {
        return Fail(connection, error);
    }
    return true;
}

// Whether the row of expected holds its value, read inside the caller's
// write transaction.
bool Holds(Connection& connection, const StoredValue& expected) {
    Statement query(connection, kSelectValue);
    return query.IsReady() && query.BindText(1, expected.section) &&
           query.BindText(2, expected.key) && query.Step() == SQLITE_ROW &&
           query.ValueAt(2) == expected.value;
}

// True when every value of the batch (the last one given for each key) is
// held already, with its type.
bool AllHeld(const std::vector<StoredValue>& batch, std::vector<StoredValue> held) {
    std::map<std::pair<std::string, std::string>, const SettingValue*> wanted;
    for (const StoredValue& value : batch) {
        wanted[{value.section, value.key}] = &value.value;
    }
    const SettingsSnapshot current = SettingsSnapshot::Of(std::move(held));
    for (const auto& [name, value] : wanted) {
        const auto stored = current.Get(name.first, name.second);
        if (!stored || stored->value != *value) {
            return false;
        }
    }
    return true;
}

void CheckSidecars(Connection& connection, const fs::path& file) {
    if (!connection.sidecarsChecked) {
        store_file::MakeSidecarsPrivate(file);
        connection.sidecars = store_file::SidecarIdentities(file);
        connection.sidecarsChecked = !connection.sidecars.empty();
    }
}

}  // namespace

SettingsSnapshot ReadStore(ConnectionPool& pool, const fs::path& file,
                           const std::vector<StoredValue>* keys, int busyTimeoutMs,
                           bool afterWriters) {
    const store_file::State state = store_file::Inspect(file);
    if (state.kind == store_file::State::Kind::kMissing) {
        return SettingsSnapshot();
    }
    if (state.kind == store_file::State::Kind::kProblem) {
        return SettingsSnapshot::Unreadable(FileProblem(state));
    }
    DbError error;
    auto lease = pool.Acquire(state.identity, error, busyTimeoutMs);
    std::vector<StoredValue> rows;
    if (!lease || !ReadRows(**lease, keys, rows, error, afterWriters)) {
        return SettingsSnapshot::Unreadable(DbProblem(error));
    }
    CheckSidecars(**lease, file);
    return SettingsSnapshot::Of(std::move(rows));
}

bool WriteStore(ConnectionPool& pool, const fs::path& file, const SettingsBatch& batch,
                int busyTimeoutMs) {
    store_file::State state = store_file::Inspect(file);
    if (state.kind == store_file::State::Kind::kMissing) {
        if (!store_file::CreatePrivateFile(file)) {
            return false;
        }
        state = store_file::Inspect(file);
    }
    if (state.kind != store_file::State::Kind::kFile) {
        return false;
    }
    DbError error;
    auto lease = pool.Acquire(state.identity, error, busyTimeoutMs);
    if (!lease) {
        return false;
    }
    Connection& connection = **lease;
    // A store that cannot be read is never written over; a value held
    // already costs no write transaction and no sync.
    std::vector<StoredValue> held;
    if (!ReadRows(connection, &batch.Values(), held, error)) {
        return false;
    }
    if (!AllHeld(batch.Values(), std::move(held))) {
        connection.UseWriteAheadLog();
        if (!WriteRows(connection, batch.Values(), error)) {
            return false;
        }
    }
    CheckSidecars(connection, file);
    return true;
}

bool ReplaceIfHeld(ConnectionPool& pool, const fs::path& file, const StoredValue& expected,
                   const SettingValue& replacement, int busyTimeoutMs) {
    const store_file::State state = store_file::Inspect(file);
    if (state.kind != store_file::State::Kind::kFile) {
        return false;
    }
    DbError error;
    auto lease = pool.Acquire(state.identity, error, busyTimeoutMs);
    if (!lease) {
        return false;
    }
    Connection& connection = **lease;
    connection.UseWriteAheadLog();
    if (!connection.EndOpenTransaction() || !connection.Execute("BEGIN IMMEDIATE") ||
        !connection.Execute(kCreateTable)) {
        return Fail(connection, error);
    }
    const bool held = Holds(connection, expected);
    if ((held &&
         !ReplaceRows(connection, {StoredValue{expected.section, expected.key, replacement}})) ||
        !connection.Execute("COMMIT")) {
        return Fail(connection, error);
    }
    CheckSidecars(connection, file);
    return held;
}

}  // namespace orvalin::store_db
