// The per-user settings store: one SQLite database holding typed values by
// section and key. Every call goes to the database at once (no cache of
// values) and is safe from any thread and from several processes.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_keys.h"
#include "settings/settings_values.h"

namespace orvalin {

namespace store_db {
class ConnectionPool;
}

class SettingsStore : public KeyTableReads<SettingsStore> {
  public:
    // How long a call waits for another writer before it gives up.
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{10000};

    // The database of the current user:
    // $XDG_CONFIG_HOME/Quenbridge/Orvalin/settings.db (~/.config when unset).
    static std::filesystem::path DefaultPath();

    // Uses the database at dbFile; nothing is opened or created until the
    // first call. A store that cannot be read reads as empty and drops
    // writes, without touching the file.
    explicit SettingsStore(std::filesystem::path dbFile);
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
    // When all of them are held already, nothing is written.
    bool Write(const SettingsBatch& batch);

    // The held value of any type, or nothing.
    std::optional<StoredValue> Get(std::string_view section, std::string_view key) const;
    // Every held value, ordered by section and key; empty when the store
    // cannot be read (Snapshot tells the two apart).
    std::vector<StoredValue> List() const;
    // Every held value read in one transaction, and whether the store could
    // be read at all. A missing file is a readable, empty store.
    SettingsSnapshot Snapshot() const;

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
    std::filesystem::path dbFile_;
    std::unique_ptr<store_db::ConnectionPool> pool_;
};

}  // namespace orvalin
