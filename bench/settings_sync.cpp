// settings_sync: drives the settings store the way the engine's checks do and
// is meant to run under `strace -f -c -e trace=fdatasync,fsync` to count the
// disk syncs a check costs.
//
// usage: settings_sync DB_FILE well|changing CHECKS
//   well      every check finds the same address, threshold and alert state
//   changing  every check raises or clears the alert of its site
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "settings/settings_store.h"

namespace {

using namespace orvalin;

constexpr const char* kAddress = "http://127.0.0.1:8080/";
constexpr std::int32_t kThreshold = 10000;

// The tick stores the threshold and the address; the check reads the alert state.
void TickAndCheck(SettingsStore& store, int slot) {
    store.Write(key::kWarn, slot, kThreshold);
    store.Write(key::kLastWebsite, slot, kAddress);
    store.Write(key::kLastWebsiteTitle, slot, kAddress);
    (void)store.Read(key::kWarned, slot);
}

// An alert without mail set up, or the recovery after it.
void FlipAlertState(SettingsStore& store, int slot, int check) {
    if (store.Read(key::kWarned, slot) == 0) {
        store.Write(key::kLastAlert, slot, "alert " + std::to_string(check));
        store.Write(key::kLastRecovery, slot, "");
        store.Write(key::kWarned, slot, 1);
    } else {
        store.Write(key::kLastRecovery, slot, "recovery " + std::to_string(check));
        store.Write(key::kWarned, slot, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: settings_sync DB_FILE well|changing CHECKS\n";
        return 2;
    }
    const std::string_view mode = argv[2];
    const int checks = std::atoi(argv[3]);
    SettingsStore store(argv[1]);
    for (int check = 0; check < checks; ++check) {
        const int slot = check % kSlotCount;
        TickAndCheck(store, slot);
        if (mode == "changing") {
            FlipAlertState(store, slot, check);
        }
    }
    return 0;
}
