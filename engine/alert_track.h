// What a slot remembers between its checks about the incident in progress:
// the failing or good answers in a row that confirm an alert or a recovery,
// and the slow episode. Guarded by the slot's mutex.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "engine/monitor_engine.h"

namespace orvalin {

struct AlertTrack {
    int failStreak = 0;        // failing checks in a row
    int goodStreak = 0;        // good checks in a row while an alert is outstanding
    bool slowEpisode = false;  // the last answer was slow
    bool reprobe = false;      // the check that just ran wants a re-probe soon
};

// True while every setting of confirmation and of one message per incident
// is at its default: the notices are then the classic ones, byte for byte.
bool ClassicAlerts(const AlertSettings& alerts);

// A local time as the store keeps an outage's start, "YYYY-MM-DD HH:MM:SS",
// and back (nothing for any other text).
std::string LocalTimeText(const std::tm& local);
std::optional<std::tm> LocalTimeOf(const std::string& text);
// "1h 12m", or under an hour "4m 05s".
std::string DurationText(long seconds);

}  // namespace orvalin
