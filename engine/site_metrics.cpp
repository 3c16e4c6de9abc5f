// The metrics file, fed by every check that probed its site.
#include <ctime>

#include "engine/engine_state.h"
#include "resources/strings.h"

namespace orvalin {

void CMonitorEngine::SetMetricsFile(const std::string& path) {
    shared_->metrics.SetPath(path);
}

void CMonitorEngine::Shared::RecordMetrics(int i, std::uint64_t generation, const std::string& url,
                                           CheckOutcome outcome, double ms) {
    if (!metrics.Enabled()) {
        return;
    }
    SiteMetrics site;
    site.slot = i;
    site.url = url;
    site.up = outcome == CheckOutcome::Success || outcome == CheckOutcome::Slow;
    site.state = outcome == CheckOutcome::Success ? 0 : (outcome == CheckOutcome::Slow ? 1 : 2);
    if (ms > 0) {
        site.responseMs = ms;
    }
    HistoryScan scan;
    if (!UpdateIfCurrent(i, generation, [&](SlotState& slot) {
            scan = ScanHistory(slot.history, slot.graphScale);
        })) {
        return;  // removed while it ran: its results are dropped
    }
    if (scan.best.ms > 0) {
        site.bestMs = scan.best.ms;
    }
    if (scan.worst.ms > 0) {
        site.worstMs = scan.worst.ms;
    }
    std::tm now = clock->LocalNow();
    site.checkedAt = static_cast<std::int64_t>(std::mktime(&now));
    // Never waits for the file: what this program last read or queued.
    site.alertOutstanding = store->Cached().Read(key::kWarned, i) != 0;

    // A site removed or replaced since its last check leaves the file.
    const std::string problem =
        metrics.Record(std::move(site), [this](int slot, const std::string& held) {
            std::lock_guard lock(Slot(slot).mutex);
            return Slot(slot).probe != nullptr && Slot(slot).lastUrl == held;
        });
    if (!problem.empty()) {
        PostToUi([problem](FrontEnd& fe) {
            fe.dialogs.ShowWarning(std::string(text::kMetricsFileFailed) + problem);
        });
    }
}

}  // namespace orvalin
