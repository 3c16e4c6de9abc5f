// site, remove-site and sites: the four panels' sites written and read as the
// desktop program writes and reads them.
#include <string>

#include "platform/printable_text.h"
#include "platform/site_address.h"
#include "resources/strings.h"
#include "settings/settings_keys.h"
#include "settings_tool/settings_tool.h"
#include "settings_tool/tool_context.h"

namespace orvalin::tool {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";
constexpr std::int32_t kFewestMinutes = 1;
constexpr std::int32_t kLowestThresholdMs = 0;

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The slot index 0..3 of the panels numbered 1..4 on screen.
std::optional<int> ParseSlot(const ToolContext& tool, std::string_view text) {
    const auto number = ParseInt32(text);
    if (!number || *number < 1 || *number > kSlotCount) {
        tool.err << text::kToolBadSlot << '"' << text << "\"\n";
        return std::nullopt;
    }
    return *number - 1;
}

std::optional<std::int32_t> ParseAtLeast(const ToolContext& tool, std::string_view text,
                                         std::int32_t lowest, std::string_view complaint) {
    const auto number = ParseInt32(text);
    if (!number || *number < lowest) {
        tool.err << complaint << '"' << text << "\"\n";
        return std::nullopt;
    }
    return number;
}

// Refuses, with the reason, an address no check could use.
bool AcceptableAddress(const ToolContext& tool, std::string_view address) {
    std::string_view complaint;
    switch (FindAddressFault(address)) {
        case AddressFault::kNone:
            return true;
        case AddressFault::kEmpty:
            tool.err << text::kToolEmptyAddress << '\n';
            return false;
        case AddressFault::kControlByte:
            complaint = text::kToolAddressControl;
            break;
        case AddressFault::kBlankInside:
            complaint = text::kToolAddressBlank;
            break;
        case AddressFault::kUnknownScheme:
            complaint = text::kToolAddressScheme;
            break;
        case AddressFault::kNoHost:
            complaint = text::kToolAddressNoHost;
            break;
    }
    tool.err << complaint << '"' << EscapeControlBytes(address) << "\"\n";
    return false;
}

// The alert state a slot forgets when it gets a new address.
void ClearAlertState(SettingsBatch& batch, int slot) {
    batch.Set(key::kWarned, slot, 0);
    batch.Set(key::kLastAlert, slot, "");
    batch.Set(key::kLastRecovery, slot, "");
}

}  // namespace

// site SLOT ADDRESS [INTERVAL_MINUTES [WARN_MS]]
int RunSite(const ToolContext& tool, const Arguments& args) {
    const auto slot = ParseSlot(tool, args[0]);
    if (!slot) {
        return kExitUsage;
    }
    const std::string_view address = Trim(args[1]);
    if (!AcceptableAddress(tool, address)) {
        return kExitUsage;
    }
    std::optional<std::int32_t> interval;
    std::optional<std::int32_t> threshold;
    if (args.size() > 2 &&
        !(interval = ParseAtLeast(tool, args[2], kFewestMinutes, text::kToolBadInterval))) {
        return kExitUsage;
    }
    if (args.size() > 3 &&
        !(threshold = ParseAtLeast(tool, args[3], kLowestThresholdMs, text::kToolBadThreshold))) {
        return kExitUsage;
    }

    const SettingsSnapshot snapshot = tool.store.Snapshot();
    if (!snapshot.Readable()) {
        return tool.Unreadable(snapshot);
    }
    SettingsBatch batch;
    // The desktop program resets a slot whose address changed at its first
    // check; a pending alert of the old address must not lead to a recovery
    // notice for the new one.
    if (snapshot.Read(key::kLastWebsite, *slot) != address) {
        ClearAlertState(batch, *slot);
    }
    batch.Set(key::kLastWebsite, *slot, address);
    batch.Set(key::kLastWebsiteTitle, *slot, address);
    if (interval) {
        batch.Set(key::kInterval, *slot, *interval);
    }
    if (threshold) {
        batch.Set(key::kWarn, *slot, *threshold);
    }
    return tool.AfterWrite(tool.store.Write(batch));
}

// remove-site SLOT: what the Del button of the panel clears.
int RunRemoveSite(const ToolContext& tool, const Arguments& args) {
    const auto slot = ParseSlot(tool, args[0]);
    if (!slot) {
        return kExitUsage;
    }
    SettingsBatch batch;
    batch.Set(key::kLastWebsite, *slot, "");
    batch.Set(key::kLastWebsiteTitle, *slot, "");
    ClearAlertState(batch, *slot);
    return tool.AfterWrite(tool.store.Write(batch));
}

// sites: SLOT, ADDRESS or (none), INTERVAL_MINUTES, WARN_MS for each panel.
int RunSites(const ToolContext& tool, const Arguments&) {
    const SettingsSnapshot snapshot = tool.store.Snapshot();
    if (!snapshot.Readable()) {
        return tool.Unreadable(snapshot);
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const std::string address = snapshot.Read(key::kLastWebsite, slot);
        tool.out << slot + 1 << '\t'
                 << (address.empty() ? std::string(text::kToolNoSite) : EscapeField(address))
                 << '\t' << snapshot.Read(key::kInterval, slot) << '\t'
                 << snapshot.Read(key::kWarn, slot) << '\n';
    }
    return kExitOk;
}

}  // namespace orvalin::tool
