#include "settings/settings_store.h"

#include <algorithm>
#include <map>
#include <utility>

#include "platform/xdg_paths.h"
#include "settings/connection_pool.h"
#include "settings/store_rows.h"
#include "settings/store_writer.h"
#include "settings/write_spool.h"

namespace orvalin {
namespace fs = std::filesystem;

namespace {

using store_db::ConnectionPool;
using store_db::ReadStore;

constexpr const char* kCompany = "Quenbridge";
constexpr const char* kApplication = "Orvalin";
constexpr const char* kFileName = "settings.db";

std::vector<StoredValue> OneKey(std::string_view section, std::string_view key) {
    return {StoredValue{std::string(section), std::string(key), SettingValue()}};
}

// The values with the later ones laid over: a later value of a key wins.
std::vector<StoredValue> LaidOver(std::vector<StoredValue> values,
                                  const std::vector<StoredValue>& later) {
    if (later.empty()) {
        return values;
    }
    std::map<std::pair<std::string, std::string>, SettingValue> merged;
    for (StoredValue& value : values) {
        merged[{std::move(value.section), std::move(value.key)}] = std::move(value.value);
    }
    for (const StoredValue& value : later) {
        merged[{value.section, value.key}] = value.value;
    }
    std::vector<StoredValue> result;
    result.reserve(merged.size());
    for (auto& [name, value] : merged) {
        result.push_back(StoredValue{name.first, name.second, std::move(value)});
    }
    return result;
}

SettingsSnapshot WithQueued(const SettingsSnapshot& read, const std::vector<StoredValue>& queued) {
    if (!read.Readable() || queued.empty()) {
        return read;
    }
    return SettingsSnapshot::Of(LaidOver(read.Values(), queued));
}

SettingsBatch BatchOf(const std::vector<StoredValue>& values) {
    SettingsBatch batch;
    for (const StoredValue& value : values) {
        if (const auto* number = std::get_if<std::int32_t>(&value.value)) {
            batch.SetInt(value.section, value.key, *number);
        } else {
            batch.SetString(value.section, value.key, std::get<std::string>(value.value));
        }
    }
    return batch;
}

}  // namespace

fs::path SettingsStore::DefaultPath() {
    return XdgConfigHome() / kCompany / kApplication / kFileName;
}

bool StoreChanges::Changed(std::string_view section, std::string_view key) const {
    for (const auto& [changedSection, changedKey] : keys) {
        if (changedSection == section && changedKey == key) {
            return true;
        }
    }
    return false;
}

SettingsStore::SettingsStore(fs::path dbFile)
    : SettingsStore(std::move(dbFile), store_db::DefaultWriteSpool()) {}

SettingsStore::SettingsStore(fs::path dbFile, fs::path writeSpool)
    : dbFile_(std::move(dbFile)),
      writeSpool_(std::move(writeSpool)),
      pool_(
          std::make_unique<ConnectionPool>(dbFile_, static_cast<int>(kDefaultBusyTimeout.count()))),
      writer_(std::make_unique<store_db::StoreWriter>([this](const SettingsBatch& batch) {
          return WriteWithin(batch, static_cast<int>(kWriterAttemptWait.count()));
      })) {}

SettingsStore::~SettingsStore() {
    FinishWrites(kWriterStopWait);
}

void SettingsStore::SetBusyTimeout(std::chrono::milliseconds timeout) {
    pool_->SetBusyTimeout(static_cast<int>(timeout.count()));
}

std::int32_t SettingsStore::ReadInt(std::string_view section, std::string_view key,
                                    std::int32_t fallback) const {
    const auto held = Get(section, key);
    if (held && std::holds_alternative<std::int32_t>(held->value)) {
        return std::get<std::int32_t>(held->value);
    }
    return fallback;
}

std::string SettingsStore::ReadString(std::string_view section, std::string_view key,
                                      std::string_view fallback) const {
    auto held = Get(section, key);
    if (held && std::holds_alternative<std::string>(held->value)) {
        return std::get<std::string>(std::move(held->value));
    }
    return std::string(fallback);
}

std::optional<StoredValue> SettingsStore::Get(std::string_view section,
                                              std::string_view key) const {
    if (auto queued = writer_->Newest(section, key)) {
        return StoredValue{std::string(section), std::string(key), std::move(*queued)};
    }
    const std::vector<StoredValue> keys = OneKey(section, key);
    return ReadStore(*pool_, dbFile_, &keys, -1).Get(section, key);
}

std::vector<StoredValue> SettingsStore::List() const {
    return Snapshot().Values();
}

SettingsSnapshot SettingsStore::Snapshot() const {
    return ReadAll(-1);
}

SettingsSnapshot SettingsStore::Snapshot(std::chrono::milliseconds wait) const {
    return ReadAll(static_cast<int>(wait.count()));
}

SettingsSnapshot SettingsStore::ReadAll(int busyTimeoutMs) const {
    // Queued values are taken before the file is read: a batch that lands in
    // between is then in both.
    const std::vector<StoredValue> queued = writer_->Pending();
    std::lock_guard order(fileOrder_);
    const SettingsSnapshot read = ReadStore(*pool_, dbFile_, nullptr, busyTimeoutMs);
    if (read.Readable()) {
        std::lock_guard lock(knownMutex_);
        known_.clear();
        for (const StoredValue& value : read.Values()) {
            known_[{value.section, value.key}] = value.value;
        }
    }
    return WithQueued(read, queued);
}

SettingsSnapshot SettingsStore::Cached() const {
    const std::vector<StoredValue> queued = writer_->Pending();
    std::vector<StoredValue> values;
    {
        std::lock_guard lock(knownMutex_);
        for (const auto& [name, value] : known_) {
            values.push_back(StoredValue{name.first, name.second, value});
        }
    }
    return SettingsSnapshot::Of(LaidOver(std::move(values), queued));
}

std::optional<StoreChanges> SettingsStore::ReadChanges(std::chrono::milliseconds wait) {
    // Whatever changed in the folder may have been the lock a queued batch waits for.
    writer_->Nudge();
    const std::vector<StoredValue> queued = writer_->Pending();
    std::lock_guard order(fileOrder_);
    // The watcher may see a commit's first bytes before the commit is
    // complete: the read waits for the writer, so the change is not missed.
    const SettingsSnapshot read =
        ReadStore(*pool_, dbFile_, nullptr, static_cast<int>(wait.count()), true);
    if (!read.Readable()) {
        return std::nullopt;
    }
    std::lock_guard lock(knownMutex_);
    StoreChanges changes;
    std::map<KeyName, SettingValue> now;
    for (const StoredValue& value : read.Values()) {
        now[{value.section, value.key}] = value.value;
    }
    const auto note = [&](const KeyName& name) {
        const bool ours = std::any_of(queued.begin(), queued.end(), [&](const StoredValue& v) {
            return v.section == name.first && v.key == name.second;
        });
        if (!ours) {
            changes.keys.push_back(name);
        }
    };
    for (const auto& [name, value] : now) {
        const auto before = known_.find(name);
        if (before == known_.end() || before->second != value) {
            note(name);
        }
    }
    for (const auto& [name, value] : known_) {
        if (now.find(name) == now.end()) {
            note(name);
        }
    }
    known_ = std::move(now);
    changes.now = WithQueued(read, queued);
    return changes;
}

void SettingsStore::Queue(SettingsBatch batch) {
    writer_->Push(std::move(batch));
}

bool SettingsStore::WaitForQueuedWrites(std::chrono::milliseconds limit) {
    return writer_->WaitUntilEmpty(limit);
}

bool SettingsStore::FinishWrites(std::chrono::milliseconds limit) {
    writer_->WaitUntilEmpty(limit);
    std::vector<StoredValue> left;
    for (const SettingsBatch& batch : writer_->Stop()) {
        left.insert(left.end(), batch.Values().begin(), batch.Values().end());
    }
    if (left.empty()) {
        return true;
    }
    store_db::SpoolWrites(writeSpool_, dbFile_, left);
    return false;
}

void SettingsStore::ResumeSpooledWrites() {
    const std::vector<StoredValue> spooled = store_db::TakeSpooledWrites(writeSpool_, dbFile_);
    if (!spooled.empty()) {
        writer_->Push(BatchOf(spooled));
    }
}

bool SettingsStore::WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
    return Write(SettingsBatch().SetInt(section, key, value));
}

bool SettingsStore::WriteString(std::string_view section, std::string_view key,
                                std::string_view value) {
    return Write(SettingsBatch().SetString(section, key, value));
}

bool SettingsStore::Write(const SettingsBatch& batch) {
    writer_->WaitUntilEmpty(kDefaultBusyTimeout);
    return WriteWithin(batch, -1);
}

bool SettingsStore::ReplaceIfHeld(const StringKey& k, std::string_view held,
                                  std::string_view replacement) {
    writer_->WaitUntilEmpty(kDefaultBusyTimeout);
    std::lock_guard order(fileOrder_);
    const StoredValue expected{std::string(k.section), std::string(k.name), std::string(held)};
    if (!store_db::ReplaceIfHeld(*pool_, dbFile_, expected, std::string(replacement), -1)) {
        return false;
    }
    std::lock_guard lock(knownMutex_);
    known_[{expected.section, expected.key}] = std::string(replacement);
    return true;
}

bool SettingsStore::WriteWithin(const SettingsBatch& batch, int busyTimeoutMs) {
    if (batch.Empty()) {
        return true;
    }
    std::lock_guard order(fileOrder_);
    if (!store_db::WriteStore(*pool_, dbFile_, batch, busyTimeoutMs)) {
        return false;
    }
    std::lock_guard lock(knownMutex_);
    for (const StoredValue& value : batch.Values()) {
        known_[{value.section, value.key}] = value.value;
    }
    return true;
}

}  // namespace orvalin
