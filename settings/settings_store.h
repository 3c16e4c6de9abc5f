// The per-user settings store: one SQLite database holding typed values by
// section and key. Reads and Write go to the database at once; Queue hands a
// batch to the store's writer thread instead, and every read of the same
// object sees queued values at once. Safe from any thread and from several
// processes.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_keys.h"
#include "settings/settings_values.h"

namespace orvalin {

namespace store_db {
class ConnectionPool;
class StoreWriter;
}  // namespace store_db

// The store as it is now, and the values another connection changed since
// this object last read or wrote them (SettingsStore::ReadChanges).
struct StoreChanges {
    // Every held value, this object's queued writes laid over.
    SettingsSnapshot now;
    // Section and key of every value that was changed, added or removed by
    // someone else, except those this object has queued writes for.
    std::vector<std::pair<std::string, std::string>> keys;

    bool Empty() const { return keys.empty(); }
    bool Changed(std::string_view section, std::string_view key) const;
    bool Changed(const IntKey& k) const { return Changed(k.section, k.name); }
    bool Changed(const StringKey& k) const { return Changed(k.section, k.name); }
    bool Changed(const SiteIntKey& k, int slot) const {
        return Changed(section::kSettings, SiteKey(k.base, slot));
    }
    bool Changed(const SiteStringKey& k, int slot) const {
        return Changed(section::kSettings, SiteKey(k.base, slot));
    }
};

class SettingsStore : public KeyTableReads<SettingsStore> {
  public:
    // How long a call waits for another writer before it gives up.
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{10000};
    // How long one attempt of the writer thread waits for another writer; a
    // batch that did not land is tried again later.
    static constexpr std::chrono::milliseconds kWriterAttemptWait{250};
    // How long the end of a program (and the destructor) lets queued writes
    // land before it spools what is left.
    static constexpr std::chrono::milliseconds kWriterStopWait{1000};

    // The database of the current user:
    // $XDG_CONFIG_HOME/Quenbridge/Orvalin/settings.db (~/.config when unset).
    static std::filesystem::path DefaultPath();

    // Uses the database at dbFile; nothing is opened or created until the
    // first call. A store that cannot be read reads as empty and drops
    // writes, without touching the file. Queued writes that are left at the
    // end are kept in writeSpool (see store_db::SpoolWrites).
    explicit SettingsStore(std::filesystem::path dbFile);
    SettingsStore(std::filesystem::path dbFile, std::filesystem::path writeSpool);
    // Lets queued writes land for at most kWriterStopWait and spools the rest.
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::filesystem::path& Path() const { return dbFile_; }

    // The held value of that type, otherwise the fallback. Never writes.
    std::int32_t ReadInt(std::string_view section, std::string_view key,
                         std::int32_t fallback) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // Hold the value, creating the database on the first write. False when
    // the value could not be stored. A value equal to the held one (same
    // type, same content) is not written again.
    bool WriteInt(std::string_view section, std::string_view key, std::int32_t value);
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Holds every value of the batch in one transaction, or none of them.
    // When all of them are held already, nothing is written. Batches queued
    // before it are waited for first (at most the busy timeout).
    bool Write(const SettingsBatch& batch);

    // Replaces the held value of k with replacement, in one transaction and
    // only while the store holds held: a value someone else wrote since it was
    // read is never replaced. Queued batches are waited for first (at most the
    // busy timeout). True when it was replaced.
    bool ReplaceIfHeld(const StringKey& k, std::string_view held, std::string_view replacement);

    // Hands the batch to the writer thread and returns at once, never waiting
    // for the file. Batches are written in the order queued, each in one
    // transaction; one that cannot be written now is tried again until it
    // lands (a little later, or at once after ReadChanges).
    void Queue(SettingsBatch batch);
    // Waits at most limit for every queued batch to land; true when none is left.
    bool WaitForQueuedWrites(std::chrono::milliseconds limit);
    // The end of a program: waits at most limit for queued batches, then
    // stops the writer and keeps what is left in the spool, for the next
    // ResumeSpooledWrites on this store. True when nothing was left.
    bool FinishWrites(std::chrono::milliseconds limit);
    // Queues what an earlier program spooled for this store, ahead of
    // anything else: called at start-up before the first read.
    void ResumeSpooledWrites();

    // The held value of any type, or nothing.
    std::optional<StoredValue> Get(std::string_view section, std::string_view key) const;
    // Every held value, ordered by section and key; empty when the store
    // cannot be read (Snapshot tells the two apart).
    std::vector<StoredValue> List() const;
    // Every held value read in one transaction, and whether the store could
    // be read at all. A missing file is a readable, empty store. With wait,
    // another connection's lock is waited for that long at most.
    SettingsSnapshot Snapshot() const;
    SettingsSnapshot Snapshot(std::chrono::milliseconds wait) const;
    // Every value as this object last read (Snapshot, ReadChanges) or wrote
    // it, queued writes laid over. Never touches the file, so never waits.
    SettingsSnapshot Cached() const;
    // Reads the whole store (waiting at most wait for a lock) and tells which
    // values someone else changed since this object last read or wrote them.
    // Nothing when the store cannot be read. Also lets a queued batch that
    // failed be tried again at once.
    std::optional<StoreChanges> ReadChanges(std::chrono::milliseconds wait);

    // Writes through the key table (reads come from KeyTableReads).
    bool Write(const IntKey& k, std::int32_t v) { return WriteInt(k.section, k.name, v); }
    bool Write(const StringKey& k, std::string_view v) { return WriteString(k.section, k.name, v); }
    bool Write(const SiteIntKey& k, int slot, std::int32_t v) {
        return WriteInt(section::kSettings, SiteKey(k.base, slot), v);
    }
    bool Write(const SiteStringKey& k, int slot, std::string_view v) {
        return WriteString(section::kSettings, SiteKey(k.base, slot), v);
    }

    // How long later calls wait for a lock another connection holds.
    void SetBusyTimeout(std::chrono::milliseconds timeout);

  private:
    using KeyName = std::pair<std::string, std::string>;

    bool WriteWithin(const SettingsBatch& batch, int busyTimeoutMs);
    SettingsSnapshot ReadAll(int busyTimeoutMs) const;

    std::filesystem::path dbFile_;
    std::filesystem::path writeSpool_;
    std::unique_ptr<store_db::ConnectionPool> pool_;
    // Held while the file is read or written and known_ updated after it, so
    // that known_ follows the file's history.
    mutable std::mutex fileOrder_;
    // Held only briefly: Cached() never waits for the file.
    mutable std::mutex knownMutex_;
    mutable std::map<KeyName, SettingValue> known_;
    std::unique_ptr<store_db::StoreWriter> writer_;
};

}  // namespace orvalin
