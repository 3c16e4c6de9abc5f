#include "settings/settings_values.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace orvalin {
namespace {

// std::string compares bytes as unsigned, as SQLite's BINARY collation does.
bool ComesBefore(const StoredValue& a, const StoredValue& b) {
    return std::tie(a.section, a.key) < std::tie(b.section, b.key);
}

}  // namespace

SettingsSnapshot SettingsSnapshot::Unreadable(std::string problem) {
    SettingsSnapshot snapshot;
    snapshot.readable_ = false;
    snapshot.problem_ = std::move(problem);
    return snapshot;
}

SettingsSnapshot SettingsSnapshot::Of(std::vector<StoredValue> values) {
    SettingsSnapshot snapshot;
    snapshot.values_ = std::move(values);
    std::sort(snapshot.values_.begin(), snapshot.values_.end(), ComesBefore);
    return snapshot;
}

const StoredValue* SettingsSnapshot::Find(std::string_view section, std::string_view key) const {
    const auto at = std::lower_bound(values_.begin(), values_.end(), std::pair(section, key),
                                     [](const StoredValue& held, const auto& wanted) {
                                         return std::tie(held.section, held.key) <
                                                std::tie(wanted.first, wanted.second);
                                     });
    if (at == values_.end() || at->section != section || at->key != key) {
        return nullptr;
    }
    return &*at;
}

std::int32_t SettingsSnapshot::ReadInt(std::string_view section, std::string_view key,
                                       std::int32_t fallback) const {
    const StoredValue* held = Find(section, key);
    if (held != nullptr) {
        if (const auto* number = std::get_if<std::int32_t>(&held->value)) {
            return *number;
        }
    }
    return fallback;
}

std::string SettingsSnapshot::ReadString(std::string_view section, std::string_view key,
                                         std::string_view fallback) const {
    const StoredValue* held = Find(section, key);
    if (held != nullptr) {
        if (const auto* text = std::get_if<std::string>(&held->value)) {
            return *text;
        }
    }
    return std::string(fallback);
}

std::optional<StoredValue> SettingsSnapshot::Get(std::string_view section,
                                                 std::string_view key) const {
    const StoredValue* held = Find(section, key);
    if (held == nullptr) {
        return std::nullopt;
    }
    return *held;
}

SettingsBatch& SettingsBatch::SetInt(std::string_view section, std::string_view key,
                                     std::int32_t value) {
    values_.push_back(StoredValue{std::string(section), std::string(key), SettingValue(value)});
    return *this;
}

SettingsBatch& SettingsBatch::SetString(std::string_view section, std::string_view key,
                                        std::string_view value) {
    values_.push_back(
        StoredValue{std::string(section), std::string(key), SettingValue(std::string(value))});
    return *this;
}

}  // namespace orvalin
