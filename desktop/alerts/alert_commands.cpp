#include "desktop/alerts/alert_commands.h"

#include "desktop/alerts/alert_settings_dialog.h"
#include "engine/monitor_engine.h"

namespace orvalin::desktop {

AlertCommands::AlertCommands(CMonitorEngine& engine, QWidget& window)
    : engine_(engine), window_(window) {}

void AlertCommands::Bind(SnoozeMenu& menu) {
    menu.isSnoozed = [this] { return engine_.SnoozedUntil().has_value(); };
    connect(&menu, &SnoozeMenu::SnoozeRequested, this, &AlertCommands::Snooze);
    connect(&menu, &SnoozeMenu::ResumeRequested, this, &AlertCommands::Resume);
    menus_.emplace_back(&menu);
    menu.Refresh();
}

void AlertCommands::Snooze(SnoozeLength length) {
    engine_.SnoozeAlerts(SnoozeEnd(length, std::chrono::system_clock::now()));
    RefreshMenus();
}

void AlertCommands::Resume() {
    engine_.ResumeAlerts();
    RefreshMenus();
}

void AlertCommands::OpenSettings() {
    RunAlertSettings(&window_, engine_);
}

void AlertCommands::RefreshMenus() {
    for (const QPointer<SnoozeMenu>& menu : menus_) {
        if (menu) {
            menu->Refresh();
        }
    }
}

}  // namespace orvalin::desktop
