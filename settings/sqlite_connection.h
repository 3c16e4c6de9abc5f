// Thin owners of a SQLite connection and a prepared statement, used by the
// settings store only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "settings/settings_values.h"
#include "settings/store_file.h"

struct sqlite3;
struct sqlite3_stmt;

namespace orvalin::store_db {

// A SQLite result code and, where the file system refused something, its errno.
struct DbError {
    int code = 0;
    int systemErrno = 0;
};

// One connection to the database file, used by one thread at a time.
class Connection {
  public:
    // Opens an existing file for reading and writing (only reading when the
    // file is write-protected); never creates it. Nothing on failure.
    static std::unique_ptr<Connection> Open(const std::filesystem::path& file,
                                            store_file::Identity identity, int busyTimeoutMs,
                                            DbError& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* Handle() const { return db_; }
    const store_file::Identity& FileIdentity() const { return identity_; }

    // Runs sql, which may hold several statements (a ';' between them).
    bool Execute(const char* sql);
    DbError LastError() const;
    // Leaves any transaction a failed step left open; false when the
    // connection cannot be trusted any more.
    bool EndOpenTransaction();

    void SetBusyTimeout(int ms);
    // Switches the database to the write-ahead log once per connection. A
    // database that cannot switch now (another process holds it in the old
    // mode) is written in its current mode and tried again next time.
    void UseWriteAheadLog();

    // Set once the log and index beside the database were made private;
    // then the files they were.
    bool sidecarsChecked = false;
    std::vector<store_file::Identity> sidecars;

  private:
    friend class Statement;

    Connection(sqlite3* db, store_file::Identity identity, int busyTimeoutMs);

    // Statements are prepared once per connection and kept, reset, by their
    // text: every read of the store runs the same few, and parsing them again
    // cost more than running them.
    sqlite3_stmt* TakePrepared(const char* sql) const;
    void KeepPrepared(const char* sql, sqlite3_stmt* stmt) const;

    sqlite3* db_;
    mutable std::unordered_map<std::string, sqlite3_stmt*> prepared_;
    store_file::Identity identity_;
    int busyTimeoutMs_;
    bool inWal_ = false;
};

class Statement {
  public:
    Statement(const Connection& connection, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool IsReady() const { return stmt_ != nullptr; }
    bool BindText(int index, std::string_view text);
    bool BindValue(int index, const SettingValue& value);
    int Step();
    // Ready to be bound and stepped again.
    void Reset();

    std::string Text(int column) const;
    // The column as a stored value; nothing for a type the store does not hold.
    std::optional<SettingValue> ValueAt(int column) const;

  private:
    const Connection& connection_;
    const char* sql_;
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace orvalin::store_db
