// The "Snooze alerts" submenu, in the tray menu and the Setup menu alike:
// three lengths and "Resume alerts", which is enabled only while alerts are
// snoozed (asked each time the menu opens, so no timer keeps it up to date).
#pragma once

#include <QMenu>
#include <chrono>
#include <functional>

namespace orvalin::desktop {

enum class SnoozeLength { kOneHour, kFourHours, kUntilTomorrowMorning };

// The end of a snooze chosen at now; tomorrow's 08:00 in local time.
std::chrono::system_clock::time_point SnoozeEnd(SnoozeLength length,
                                                std::chrono::system_clock::time_point now);

class SnoozeMenu : public QMenu {
    Q_OBJECT
  public:
    explicit SnoozeMenu(QWidget* parent = nullptr);

    // Whether alerts are snoozed now; unset: never.
    std::function<bool()> isSnoozed;

    QAction* ResumeAction() const { return resume_; }
    // Enables "Resume alerts" as isSnoozed says; done whenever the menu opens.
    void Refresh();

  signals:
    void SnoozeRequested(orvalin::desktop::SnoozeLength length);
    void ResumeRequested();

  private:
    QAction* AddLength(std::string_view label, int id, SnoozeLength length);

    QAction* resume_;
};

}  // namespace orvalin::desktop
