#include "settings/connection_pool.h"

#include <utility>

namespace orvalin::store_db {

namespace {

// The engine runs at most four checks and one front-end thread at a time.
constexpr std::size_t kMaxIdle = 6;

}  // namespace

ConnectionPool::Lease::Lease(ConnectionPool& pool, std::shared_lock<std::shared_mutex> gate,
                             std::unique_ptr<Connection> connection)
    : pool_(&pool), gate_(std::move(gate)), connection_(std::move(connection)) {}

ConnectionPool::Lease::~Lease() {
    if (connection_) {
        pool_->GiveBack(std::move(connection_));
    }
}

ConnectionPool::ConnectionPool(std::filesystem::path file, int busyTimeoutMs)
    : file_(std::move(file)), busyTimeoutMs_(busyTimeoutMs) {}

ConnectionPool::~ConnectionPool() {
    std::unique_lock gate(gate_);
    idle_.clear();
}

std::optional<ConnectionPool::Lease> ConnectionPool::Acquire(store_file::Identity identity,
                                                             DbError& error, int busyTimeoutMs) {
    const int wait = busyTimeoutMs >= 0 ? busyTimeoutMs : busyTimeoutMs_.load();
    std::shared_lock gate(gate_);
    std::unique_ptr<Connection> connection;
    {
        std::unique_lock idle(idleMutex_);
        if (current_ != identity) {
            idle.unlock();
            gate.unlock();
            SwitchTo(identity);
            gate.lock();
            idle.lock();
        }
        if (!idle_.empty() && idle_.back()->FileIdentity() == identity) {
            connection = std::move(idle_.back());
            idle_.pop_back();
        }
    }
    if (!connection) {
        connection = Connection::Open(file_, identity, wait, error);
        if (!connection) {
            return std::nullopt;
        }
    }
    connection->SetBusyTimeout(wait);
    return Lease(*this, std::move(gate), std::move(connection));
}

void ConnectionPool::SwitchTo(store_file::Identity identity) {
    // Waits until no lease is out, so that no connection to the old file is
    // open when the first one to the new file opens (SQLite would otherwise
    // share the log and index of the old file with it).
    std::unique_lock gate(gate_);
    std::lock_guard idle(idleMutex_);
    if (current_ != identity) {
        // SQLite does not copy the log of a file that was moved or deleted
        // into it when its connections close, so the log stays at the path.
        std::vector<store_file::Identity> leftBehind;
        for (const auto& connection : idle_) {
            leftBehind.insert(leftBehind.end(), connection->sidecars.begin(),
                              connection->sidecars.end());
        }
        idle_.clear();
        store_file::RemoveSidecarsOf(file_, leftBehind);
        current_ = identity;
    }
}

void ConnectionPool::GiveBack(std::unique_ptr<Connection> connection) {
    if (!connection->EndOpenTransaction()) {
        return;
    }
    {
        std::lock_guard idle(idleMutex_);
        if (current_ == connection->FileIdentity() && idle_.size() < kMaxIdle) {
            idle_.push_back(std::move(connection));
            return;
        }
    }
    connection.reset();  // a spare, or one to a file that is gone
}

}  // namespace orvalin::store_db
