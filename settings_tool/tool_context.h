// What every orvalin-settings command works with, and the helpers they share.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "settings/settings_store.h"

namespace orvalin::tool {

using Arguments = std::vector<std::string_view>;

struct ToolContext {
    SettingsStore& store;
    std::ostream& out;
    std::ostream& err;

    // Says why the store cannot be read; gives the exit status for it.
    int Unreadable(const SettingsSnapshot& snapshot) const;
    // The exit status after a write: why it was dropped, when it was.
    int AfterWrite(bool written) const;
};

// Decimal, optionally signed, nothing around it, within 32 bits.
std::optional<std::int32_t> ParseInt32(std::string_view text);

int RunSite(const ToolContext& tool, const Arguments& args);
int RunRemoveSite(const ToolContext& tool, const Arguments& args);
int RunSites(const ToolContext& tool, const Arguments& args);
int RunSnooze(const ToolContext& tool, const Arguments& args);

}  // namespace orvalin::tool
