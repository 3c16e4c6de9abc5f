// The "NumOpen" count of running instances, kept in the settings store.
#pragma once

#include "settings/settings_store.h"

namespace orvalin {

// Counts this instance in the "NumOpen" setting at start-up.
void RegisterInstance(SettingsStore& store, bool otherRunning);
// Takes this instance off the "NumOpen" count when its window goes.
void UnregisterInstance(SettingsStore& store);

}  // namespace orvalin
