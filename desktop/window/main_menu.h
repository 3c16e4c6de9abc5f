// The main window's menu bar: every entry with its command id and, for the
// switches, a check mark.
#pragma once

#include <QAction>
#include <QMenuBar>
#include <map>

#include "desktop/alerts/snooze_menu.h"

namespace orvalin::desktop {

class MainMenu {
  public:
    explicit MainMenu(QMenuBar& bar);

    // The entry of a command id, or nullptr.
    QAction* Action(int id) const;
    void SetChecked(int id, bool on) const;
    SnoozeMenu& Snooze() const { return *snooze_; }

  private:
    QAction* Add(QMenu& menu, int id, std::string_view label, bool checkable = false);

    std::map<int, QAction*> actions_;
    SnoozeMenu* snooze_ = nullptr;
};

}  // namespace orvalin::desktop
