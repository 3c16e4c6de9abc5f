// The moment the tests' clocks stand still at.
#pragma once

#include <ctime>

namespace orvalin::test {

// Sunday 14 March 2004, 09:05:07, one hour east of Greenwich.
inline std::tm FixedMoment() {
    std::tm moment{};
    moment.tm_year = 2004 - 1900;
    moment.tm_mon = 2;
    moment.tm_mday = 14;
    moment.tm_hour = 9;
    moment.tm_min = 5;
    moment.tm_sec = 7;
    moment.tm_wday = 0;
    moment.tm_yday = 73;
    moment.tm_gmtoff = 3600;
    return moment;
}

}  // namespace orvalin::test
