// The first line orvalind --once prints, in the form monitoring systems read
// from their plugins (Nagios, Icinga, Naemon, Sensu):
//   ORVALIN <STATUS> - <text> | 'site1'=3ms;10000;;0 'site2'=U;10000;;0
// with the status matching the exit status (0 OK, 1 WARNING, 2 CRITICAL,
// 3 UNKNOWN) and one performance value per configured site.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/frontend.h"

namespace orvalin {

class PluginLine {
  public:
    // A configured site of slot (0-3) and its slow threshold.
    void AddSite(int slot, std::string address, std::int32_t warnMs);
    // The outcome of the check of a site added before.
    void Record(const CheckReport& report);
    // The line for a run that ends with exitCode (0 to 3), without its line end.
    std::string Text(int exitCode) const;

  private:
    struct Site {
        int slot = 0;
        std::string address;
        std::int32_t warnMs = 0;
        std::optional<CheckReport> report;
    };

    std::string Summary(int exitCode) const;
    std::string PerformanceData() const;

    std::vector<Site> sites_;
};

}  // namespace orvalin
