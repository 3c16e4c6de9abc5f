// The main window: four website panels under a menu bar. It turns the user's
// commands into calls on the engine and keeps the window's own switches
// (details, compact, always on top, start hidden, autostart); the monitoring
// itself is the engine's.
#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <optional>

#include "desktop/window/autostart_entry.h"
#include "desktop/window/main_menu.h"
#include "engine/frontend.h"
#include "settings/settings_keys.h"

namespace orvalin {
class CMonitorEngine;
class SettingsStore;
}  // namespace orvalin

namespace orvalin::desktop {

class AlertCommands;
class EmailCommands;
class SitePanel;
class TrayIcon;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(std::shared_ptr<SettingsStore> store, TrayIcon& tray, IUserDialogs& dialogs,
               AutostartEntry autostart = AutostartEntry(), QWidget* parent = nullptr);
    ~MainWindow() override;

    // The engine the panels and commands drive; set once, before
    // LoadWindowSettings.
    void AttachEngine(CMonitorEngine& engine);
    // Position, switches and menu checks from the store, the autostart entry,
    // then the layout. The engine has loaded its settings already.
    void LoadWindowSettings();

    SitePanel& Panel(int slot) const;
    const MainMenu& Menu() const { return *menu_; }
    // Snooze, resume and the alert settings; set by AttachEngine.
    AlertCommands& Alerts() const { return *alerts_; }

    // Commands (menu, tray and engine).
    void OpenWindow();
    void RequestExit();
    // Hides to the notification area, or minimises when there is none.
    void HideWindow();
    void ApplyLayout();
    void ToggleDetails();
    void ToggleCompactMode();
    void ToggleStartHidden();
    void ToggleAutoStart();
    void ToggleAlwaysOnTop();
    void ToggleProbeMode();
    void OpenEmailSettings();
    void TestEmailSettings();
    void ShowAbout();
    void OpenHelp();
    void OpenWebPage();
    void OpenLogViewer(bool access);
    void OpenLogSettings();
    void OpenTellAFriend();

    bool ExitRequested() const { return exitRequested_; }
    // The outer top-left corner, as saved at exit.
    QPoint OuterPosition() const;
    // Stores the position taken at exit and the (empty) location list
    // (queued: see SettingsStore::Queue).
    void SaveOnExit(QPoint outerPosition);

  signals:
    // The window was closed for good: the program ends.
    void Exiting();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildPanels();
    void ConnectCommands();
    void ConnectPanel(SitePanel& panel);
    void SetStartupEntry(bool on);
    void RestorePosition();
    void SetAlwaysOnTop(bool on);
    void StoreSwitch(const IntKey& key, bool on);

    std::shared_ptr<SettingsStore> store_;
    TrayIcon& tray_;
    IUserDialogs& dialogs_;
    AutostartEntry autostart_;
    CMonitorEngine* engine_ = nullptr;
    std::unique_ptr<MainMenu> menu_;
    std::unique_ptr<EmailCommands> email_;
    std::unique_ptr<AlertCommands> alerts_;
    std::array<SitePanel*, 4> panels_{};

    std::optional<QPoint> hiddenAt_;  // the place to show the hidden window again
    bool exitRequested_ = false;
    bool alwaysOnTop_ = false;
    bool viewDetails_ = true;
    bool compactMode_ = false;
    bool startHidden_ = false;
    bool autoStart_ = true;
    bool probeMode_ = false;
};

}  // namespace orvalin::desktop
