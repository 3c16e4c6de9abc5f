// The per-user settings store: one SQLite database holding typed values by
// section and key. Every call goes to the database at once (no cache) and is
// safe from any thread and from several processes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/settings_keys.h"

namespace orvalin {

struct StoredValue {
    std::string section;
    std::string key;
    std::variant<std::int32_t, std::string> value;
};

class SettingsStore {
  public:
    // The database of the current user:
    // $XDG_CONFIG_HOME/Quenbridge/Orvalin/settings.db (~/.config when unset).
    static std::filesystem::path DefaultPath();

    // Uses the database at dbFile; nothing is opened or created until the
    // first call. A store that cannot be opened reads as empty and drops
    // writes, without touching the file.
    explicit SettingsStore(std::filesystem::path dbFile);

    const std::filesystem::path& Path() const { return dbFile_; }

    // The held value of that type, otherwise the fallback. Never writes.
    std::int32_t ReadInt(std::string_view section, std::string_view key,
                         std::int32_t fallback) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // Hold the value, creating the database on the first write. False when
    // the value could not be stored.
    bool WriteInt(std::string_view section, std::string_view key, std::int32_t value);
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    // The held value of any type, or nothing.
    std::optional<StoredValue> Get(std::string_view section, std::string_view key) const;
    // Every held value, ordered by section and key.
    std::vector<StoredValue> List() const;

    // Typed access through the key table.
    std::int32_t Read(const IntKey& k) const { return ReadInt(k.section, k.name, k.fallback); }
    std::string Read(const StringKey& k) const { return ReadString(k.section, k.name, k.fallback); }
    std::int32_t Read(const SiteIntKey& k, int slot) const {
        return ReadInt(section::kSettings, SiteKey(k.base, slot), k.fallback);
    }
    std::string Read(const SiteStringKey& k, int slot) const {
        return ReadString(section::kSettings, SiteKey(k.base, slot), k.fallback);
    }
    bool Write(const IntKey& k, std::int32_t v) { return WriteInt(k.section, k.name, v); }
    bool Write(const StringKey& k, std::string_view v) { return WriteString(k.section, k.name, v); }
    bool Write(const SiteIntKey& k, int slot, std::int32_t v) {
        return WriteInt(section::kSettings, SiteKey(k.base, slot), v);
    }
    bool Write(const SiteStringKey& k, int slot, std::string_view v) {
        return WriteString(section::kSettings, SiteKey(k.base, slot), v);
    }

  private:
    std::filesystem::path dbFile_;
};

}  // namespace orvalin
