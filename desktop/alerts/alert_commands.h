// The alert commands of the menus, the tray and the notifications: snooze,
// resume and the "Alert settings..." dialog, run on the engine.
#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

#include "desktop/alerts/snooze_menu.h"

namespace orvalin {
class CMonitorEngine;
}

namespace orvalin::desktop {

class AlertCommands : public QObject {
    Q_OBJECT
  public:
    // window: the parent of the dialog.
    AlertCommands(CMonitorEngine& engine, QWidget& window);

    // Runs menu's entries, and lets it ask whether alerts are snoozed.
    void Bind(SnoozeMenu& menu);

    void Snooze(SnoozeLength length);
    void Resume();
    void OpenSettings();

  private:
    void RefreshMenus();

    CMonitorEngine& engine_;
    QWidget& window_;
    std::vector<QPointer<SnoozeMenu>> menus_;
};

}  // namespace orvalin::desktop
