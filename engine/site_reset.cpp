// Taking a slot back to a clean state: statistics, panel, graph and the
// stored alert state.
#include "engine/engine_state.h"
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
}

void CMonitorEngine::Shared::ResetStoredAlertState(int i) {
    store->Write(SettingsBatch()
                     .Set(key::kWarned, i, 0)
                     .Set(key::kLastAlert, i, "")
                     .Set(key::kLastRecovery, i, ""));
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
