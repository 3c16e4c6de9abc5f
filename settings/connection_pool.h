// Open connections of one settings store, kept between calls so that a call
// costs no file opening. A connection serves one thread at a time; threads
// that run at once get one each.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "settings/sqlite_connection.h"
#include "settings/store_file.h"

namespace orvalin::store_db {

class ConnectionPool {
  public:
    // A connection lent to one call; given back when the lease ends.
    class Lease {
      public:
        Lease(Lease&&) noexcept = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        Connection& operator*() const { return *connection_; }
        Connection* operator->() const { return connection_.get(); }

      private:
        friend class ConnectionPool;
        Lease(ConnectionPool& pool, std::shared_lock<std::shared_mutex> gate,
              std::unique_ptr<Connection> connection);

        ConnectionPool* pool_;
        std::shared_lock<std::shared_mutex> gate_;
        std::unique_ptr<Connection> connection_;
    };

    ConnectionPool(std::filesystem::path file, int busyTimeoutMs);
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // A connection to the file that now has this identity, waiting at most
    // busyTimeoutMs for another connection's lock (the pool's own wait when
    // negative). Connections to a file that was deleted or replaced are all
    // closed before the first one to the new file opens.
    std::optional<Lease> Acquire(store_file::Identity identity, DbError& error,
                                 int busyTimeoutMs = -1);

    void SetBusyTimeout(int ms) { busyTimeoutMs_ = ms; }

  private:
    void GiveBack(std::unique_ptr<Connection> connection);
    void SwitchTo(store_file::Identity identity);

    const std::filesystem::path file_;
    std::atomic<int> busyTimeoutMs_;
    // Held shared by every lease, exclusively while the pool moves to another
    // file.
    std::shared_mutex gate_;
    std::mutex idleMutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
    std::optional<store_file::Identity> current_;
};

}  // namespace orvalin::store_db
