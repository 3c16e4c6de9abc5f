// The "NumOpen" count of running instances, kept in the settings store.
#pragma once

#include "settings/settings_store.h"

namespace orvalin {

// Counts this instance in the "NumOpen" setting at start-up, after the store
// was read. Both read the count as this process last saw it and queue the
// new one, so neither waits for the file.
void RegisterInstance(SettingsStore& store, bool otherRunning);
// Takes this instance off the "NumOpen" count when its window goes.
void UnregisterInstance(SettingsStore& store);

}  // namespace orvalin
