// One read or one write of the settings store's file, each in one
// transaction on a pooled connection. Used by SettingsStore only.
#pragma once

#include <filesystem>
#include <vector>

#include "settings/connection_pool.h"
#include "settings/settings_values.h"

namespace orvalin::store_db {

// The values of the given keys (all when keys is null) as the file now holds
// them, waiting at most busyTimeoutMs for a lock (the pool's wait when
// negative). With afterWriters, a commit another connection is making is
// waited for first. Never creates the file.
SettingsSnapshot ReadStore(ConnectionPool& pool, const std::filesystem::path& file,
                           const std::vector<StoredValue>* keys, int busyTimeoutMs,
                           bool afterWriters = false);

// Holds every value of the batch, creating the file when it is missing. A
// store that cannot be read is never written over; a batch held already
// costs no write transaction. False when the batch was not written.
bool WriteStore(ConnectionPool& pool, const std::filesystem::path& file, const SettingsBatch& batch,
                int busyTimeoutMs);

// Replaces the value of expected's key with replacement in one write
// transaction, provided the file holds expected's value then. False when it
// held another value (or none) or could not be written.
bool ReplaceIfHeld(ConnectionPool& pool, const std::filesystem::path& file,
                   const StoredValue& expected, const SettingValue& replacement, int busyTimeoutMs);

}  // namespace orvalin::store_db
