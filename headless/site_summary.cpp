#include "headless/site_summary.h"

#include "resources/strings.h"

namespace orvalin {

void SiteSummary::Record(const CheckReport& report) {
    if (report.slot >= 0 && report.slot < kSlotCount &&
        report.outcome != CheckOutcome::NotChecked) {
        last_[static_cast<std::size_t>(report.slot)] = report.outcome;
    }
}

std::string SiteSummary::Text(const std::array<bool, kSlotCount>& configured) const {
    int well = 0;
    int slow = 0;
    int failing = 0;
    int waiting = 0;
    int offline = 0;
    for (std::size_t i = 0; i < configured.size(); ++i) {
        if (!configured[i]) {
            continue;
        }
        switch (last_[i].value_or(CheckOutcome::NotChecked)) {
            case CheckOutcome::Success:
                ++well;
                break;
            case CheckOutcome::Slow:
                ++slow;
                break;
            case CheckOutcome::UnexpectedResponse:
            case CheckOutcome::Unreachable:
                ++failing;
                break;
            case CheckOutcome::NotChecked:
                ++waiting;
                break;
            case CheckOutcome::NoNetwork:
                ++offline;
                break;
        }
    }
    std::string text;
    const auto add = [&text](int count, std::string_view word) {
        if (count > 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(count);
            text += word;
        }
    };
    add(well, text::kSummaryWell);
    add(slow, text::kSummarySlow);
    add(failing, text::kSummaryFailing);
    add(waiting, text::kSummaryWaiting);
    add(offline, text::kSummaryNoNetwork);
    return text.empty() ? std::string(text::kSummaryNoSite) : text;
}

}  // namespace orvalin
