// What every orvalin-settings command works with, and the helpers they share.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "secrets/keyring.h"
#include "settings/settings_store.h"

namespace orvalin::tool {

using Arguments = std::vector<std::string_view>;

struct ToolContext {
    SettingsStore& store;
    IKeyring& keyring;
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

// The mail password and the keys its keyring item is filed under.
bool IsMailPassword(std::string_view section, std::string_view name);
bool NamesPasswordOwner(std::string_view section, std::string_view name);
// get Settings SMTPPassword: the store's password, else the keyring's; where
// it is kept goes to err.
int RunGetPassword(const ToolContext& tool);
// set-string Settings SMTPPassword: into the keyring (read back), the store
// holding an empty one, or into the store where no keyring can take it.
int RunSetPassword(const ToolContext& tool, std::string_view password);
// set-string Settings SMTP or SMTPUsername: the keyring's item is filed
// under the new server or user name.
int RunSetPasswordOwner(const ToolContext& tool, std::string_view name, std::string_view value);

}  // namespace orvalin::tool
