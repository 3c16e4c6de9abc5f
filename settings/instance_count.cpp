#include "settings/instance_count.h"

#include <cstdint>

namespace orvalin {
namespace {

// A missing count reads as no instance when one is added, and as this one
// alone when one leaves.
constexpr std::int32_t kMissingCountOnStart = 0;
constexpr std::int32_t kMissingCountOnExit = 1;

}  // namespace

void RegisterInstance(SettingsStore& store, bool otherRunning) {
    const std::int32_t count =
        otherRunning ? store.Cached().ReadInt(key::kNumOpen.section, key::kNumOpen.name,
                                              kMissingCountOnStart) +
                           1
                     : 1;
    store.Queue(SettingsBatch().Set(key::kNumOpen, count));
}

void UnregisterInstance(SettingsStore& store) {
    const std::int32_t count =
        store.Cached().ReadInt(key::kNumOpen.section, key::kNumOpen.name, kMissingCountOnExit) - 1;
    store.Queue(SettingsBatch().Set(key::kNumOpen, count));
}

}  // namespace orvalin
