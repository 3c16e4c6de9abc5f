// The tray after every probe: four animation frames 120 ms apart showing the
// probed address, then the normal icon or the summary of all sites. The
// frames are timed steps on the front-end thread, so the check that asked for
// them goes on at once; one summary runs at a time.
#include "engine/engine_state.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

constexpr std::size_t kFrameCount = std::size(ids::kIconFrames);

}  // namespace

void CMonitorEngine::Shared::UpdateTraySummary(const std::string& address) {
    if (!frontEnd.tray.HasTray()) {
        return;  // nothing to show it in
    }
    if (summaryBusy.test_and_set()) {
        return;  // another check is animating the tray
    }
    const std::string tip = std::string(text::kTrayTipPrefix) + address;
    PostToUi([self = shared_from_this(), tip](FrontEnd&) { self->ShowTrayStep(0, tip); });
}

// Front-end thread: shows step `step` of the animation and schedules the next.
void CMonitorEngine::Shared::ShowTrayStep(std::size_t step, std::string tip) {
    if (step < kFrameCount) {
        frontEnd.tray.SetIconAndTip(ids::kIconFrames[step], tip);
        PostToUiAfter(kTrayFrameMs, [self = shared_from_this(), step, tip](FrontEnd&) {
            self->ShowTrayStep(step + 1, tip);
        });
        return;
    }
    SetSummaryTip(ids::kIconNormal, tip);

    // The summary reflects the sites as they are now, at the end of the animation.
    int unreachable = 0;
    int slow = 0;
    int noNetwork = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        SlotState& slot = Slot(i);
        std::lock_guard lock(slot.mutex);
        if (!slot.probe) {
            continue;
        }
        if (SkippedForNoNetwork(*this, i)) {
            ++noNetwork;  // not judged: neither failing nor slow
            continue;
        }
        const std::int32_t state = slot.probe->state.load();
        unreachable += state == kStateUnreachable ? 1 : 0;
        slow += state == kStateSlow ? 1 : 0;
    }
    if (unreachable > 0) {
        SetSummaryTip(ids::kIconUnreachable, std::string(text::kTrayTipUnreachable));
    } else if (noNetwork > 0) {
        SetSummaryTip(ids::kIconNormal, std::string(text::kTrayTipNoNetwork));
    } else if (slow > 0) {
        SetSummaryTip(ids::kIconSlow, std::string(text::kTrayTipSlow));
    }
    summaryBusy.clear();
}

}  // namespace orvalin
