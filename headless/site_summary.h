// The one line that tells how the monitored sites fare, for the service
// manager's status: "3 well, 1 failing".
#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/frontend.h"
#include "settings/settings_keys.h"

namespace orvalin {

class SiteSummary {
  public:
    // The outcome of a slot's last check; one that did not run changes nothing.
    void Record(const CheckReport& report);
    // Counts the slots that hold a site now (configured): well, slow,
    // failing, and waiting for their first check.
    std::string Text(const std::array<bool, kSlotCount>& configured) const;

  private:
    std::array<std::optional<CheckOutcome>, kSlotCount> last_;
};

}  // namespace orvalin
