// Values of the settings store as plain data: one held value, typed reads
// through the key table, a snapshot of the whole store and a batch of writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/settings_keys.h"

namespace orvalin {

using SettingValue = std::variant<std::int32_t, std::string>;

struct StoredValue {
    std::string section;
    std::string key;
    SettingValue value;

    bool operator==(const StoredValue&) const = default;
};

// Reads through the key table for any class that has ReadInt and ReadString
// on section and key.
template <typename Reader>
class KeyTableReads {
  public:
    std::int32_t Read(const IntKey& k) const {
        return Self().ReadInt(k.section, k.name, k.fallback);
    }
    std::string Read(const StringKey& k) const {
        return Self().ReadString(k.section, k.name, k.fallback);
    }
    std::int32_t Read(const SiteIntKey& k, int slot) const {
        return Self().ReadInt(section::kSettings, SiteKey(k.base, slot), k.fallback);
    }
    std::string Read(const SiteStringKey& k, int slot) const {
        return Self().ReadString(section::kSettings, SiteKey(k.base, slot), k.fallback);
    }

  private:
    const Reader& Self() const { return static_cast<const Reader&>(*this); }
};

// Every value of the store as one read transaction saw it, and whether the
// store could be read at all. A store that could not be read holds no values,
// so every read gives its default: callers that would write defaults back
// must look at Readable() first.
class SettingsSnapshot : public KeyTableReads<SettingsSnapshot> {
  public:
    // A readable, empty store (as a missing file is).
    SettingsSnapshot() = default;
    static SettingsSnapshot Unreadable(std::string problem);
    // values in any order.
    static SettingsSnapshot Of(std::vector<StoredValue> values);

    bool Readable() const { return readable_; }
    // Why the store could not be read, in a few words for people; empty when
    // it was read.
    const std::string& Problem() const { return problem_; }

    std::int32_t ReadInt(std::string_view section, std::string_view key,
                         std::int32_t fallback) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    std::optional<StoredValue> Get(std::string_view section, std::string_view key) const;
    // Every held value, ordered by section and key (bytewise).
    const std::vector<StoredValue>& Values() const { return values_; }

  private:
    const StoredValue* Find(std::string_view section, std::string_view key) const;

    std::vector<StoredValue> values_;
    std::string problem_;
    bool readable_ = true;
};

// Values to be written together: SettingsStore::Write(batch) holds all of
// them in one transaction, or none. A later value for the same key wins.
class SettingsBatch {
  public:
    SettingsBatch& SetInt(std::string_view section, std::string_view key, std::int32_t value);
    SettingsBatch& SetString(std::string_view section, std::string_view key,
                             std::string_view value);
    SettingsBatch& Set(const IntKey& k, std::int32_t v) { return SetInt(k.section, k.name, v); }
    SettingsBatch& Set(const StringKey& k, std::string_view v) {
        return SetString(k.section, k.name, v);
    }
    SettingsBatch& Set(const SiteIntKey& k, int slot, std::int32_t v) {
        return SetInt(section::kSettings, SiteKey(k.base, slot), v);
    }
    SettingsBatch& Set(const SiteStringKey& k, int slot, std::string_view v) {
        return SetString(section::kSettings, SiteKey(k.base, slot), v);
    }

    bool Empty() const { return values_.empty(); }
    const std::vector<StoredValue>& Values() const { return values_; }

  private:
    std::vector<StoredValue> values_;
};

}  // namespace orvalin
