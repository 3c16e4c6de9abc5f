// Taking a slot back to a clean state: statistics, panel, graph and the
// stored alert state.
#include "engine/engine_state.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

inline constexpr int kGraphLabelWidth = 50;

}  // namespace

void CMonitorEngine::Shared::ResetSlotData(SlotState& slot) {
    slot.lastAlert.clear();
    slot.lastRecovery.clear();
    slot.graphScale = kInitialGraphScale;
    slot.history.clear();
    slot.track = AlertTrack{};
}

void CMonitorEngine::Shared::ResetStoredAlertState(int i) {
    store->Queue(SettingsBatch()
                     .Set(key::kWarned, i, 0)
                     .Set(key::kLastAlert, i, "")
                     .Set(key::kLastRecovery, i, ""));
    // The incident's own state, only where there is any.
    const SettingsSnapshot held = store->Cached();
    SettingsBatch incident;
    if (held.Read(key::kAlertHeld, i) != 0) {
        incident.Set(key::kAlertHeld, i, 0);
    }
    if (held.Read(key::kSlowWarned, i) != 0) {
        incident.Set(key::kSlowWarned, i, 0);
    }
    for (const SiteStringKey& k : {key::kDownSince, key::kRemindedAt}) {
        if (!held.Read(k, i).empty()) {
            incident.Set(k, i, "");
        }
    }
    if (!incident.Empty()) {
        store->Queue(std::move(incident));
    }
}

bool CMonitorEngine::Shared::EndMonitoring(int i, bool forgetStored) {
    SlotState& slot = Slot(i);
    frontEnd.timers.Kill(ids::PollTimer(i));
    // From here a running check of this slot drops its results; one that is
    // writing the store finishes first, so it cannot undo the removal.
    std::lock_guard commit(slot.commitMutex);
    bool hadSite = false;
    {
        std::lock_guard lock(slot.mutex);
        hadSite = slot.probe != nullptr;
        slot.probe.reset();
        slot.generation.fetch_add(1);
        slot.recheckPending = false;
        slot.caption = DefaultCaption(i);
    }
    if (forgetStored) {
        store->Queue(
            SettingsBatch().Set(key::kLastWebsite, i, "").Set(key::kLastWebsiteTitle, i, ""));
    }
    return hadSite;
}

void CMonitorEngine::Shared::PrepareGraph(IResponseGraph& graph) {
    graph.SetLabelWidth(kGraphLabelWidth);
    graph.SetLabelCount(kLabelDivisions);
    std::array<std::string, kLabelDivisions> noLabels;
    noLabels.fill(std::string(text::kNoLabel));
    graph.SetLabels(noLabels);
    graph.SetDirection(0);
    graph.SetLabelSide(0);
}

void CMonitorEngine::Shared::ResetPanel(FrontEnd& fe, int i) {
    fe.panels.SetStatusColour(i, std::nullopt);
    fe.panels.ClearPanelTexts(i);
    fe.panels.Graph(i).ClearData();
    PrepareGraph(fe.panels.Graph(i));
}

}  // namespace orvalin
