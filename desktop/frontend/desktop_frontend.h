// The engine's view of the desktop program: the panels, the tray icon, the
// message boxes and the window commands, over the widgets. This is the one
// place where engine calls become widget calls; all of them arrive on the
// GUI thread except HasTray and the workers' ShowWarning.
#pragma once

#include <array>

#include "engine/frontend.h"

namespace orvalin::desktop {

class DesktopNotifications;
class MainWindow;
class MessageBroker;
class ResponseGraph;
class TrayIcon;

// One panel's graph as the engine drives it.
class GraphAdapter final : public IResponseGraph {
  public:
    GraphAdapter() = default;
    void Bind(ResponseGraph& graph) { graph_ = &graph; }

    void AddPoint(double value, int state) override;
    void ClearData() override;
    void SetScale(double scale) override;
    void SetLabels(const std::array<std::string, kLabelDivisions>& labels) override;
    void SetLabelWidth(int pixels) override;
    void SetLabelCount(int count) override;
    void SetDirection(int newestLeft) override;
    void SetLabelSide(int left) override;

  private:
    ResponseGraph* graph_ = nullptr;
};

class DesktopFrontEnd final : public IPanelView,
                              public ITrayView,
                              public IUserDialogs,
                              public IShellCommands {
  public:
    // A notice goes to notifications; one they cannot show goes to the tray
    // icon's message, and without a notification area nowhere.
    DesktopFrontEnd(MainWindow& window, TrayIcon& tray, MessageBroker& boxes,
                    DesktopNotifications& notifications);

    // IPanelView
    std::string AddressBoxText(int slot) override;
    void SetAddressBoxText(int slot, const std::string& text) override;
    void FocusAddressBox(int slot) override;
    std::string WarningBoxText(int slot) override;
    void SetWarningBoxText(int slot, const std::string& text) override;
    std::string IntervalBoxText(int slot) override;
    void SetIntervalBoxText(int slot, const std::string& text) override;
    void SetCaption(int slot, const std::string& caption) override;
    void SetStatusColour(int slot, std::optional<Colour> colour) override;
    void ClearPanelTexts(int slot) override;
    void ApplyPanelUpdate(int slot, const PanelUpdate& update) override;
    IResponseGraph& Graph(int slot) override;
    void CheckFinished(const CheckReport& report) override;

    // ITrayView
    bool HasTray() const override;
    void SetIconAndTip(int iconId, const std::string& tip) override;
    void ShowNotice(const Notice& notice) override;

    // IUserDialogs
    void ShowWarning(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void BeginClosing() override;

    // IShellCommands
    void OpenEmailSettings() override;
    void HideWindow() override;
    void ApplyLayout() override;

  private:
    MainWindow& window_;
    TrayIcon& tray_;
    MessageBroker& boxes_;
    DesktopNotifications& notifications_;
    std::array<GraphAdapter, 4> graphs_;
};

}  // namespace orvalin::desktop
