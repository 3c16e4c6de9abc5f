#include "desktop/alerts/snooze_menu.h"

#include <ctime>

#include "desktop/control_id.h"
#include "desktop/qt_text.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"

namespace orvalin::desktop {

std::chrono::system_clock::time_point SnoozeEnd(SnoozeLength length,
                                                std::chrono::system_clock::time_point now) {
    using namespace std::chrono_literals;
    switch (length) {
        case SnoozeLength::kOneHour:
            return now + 1h;
        case SnoozeLength::kFourHours:
            return now + 4h;
        case SnoozeLength::kUntilTomorrowMorning:
            break;
    }
    // The next calendar day at 08:00 as the local clock reads then, whatever
    // daylight saving does in between (mktime normalises the 32nd and finds
    // the offset).
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm day{};
    localtime_r(&seconds, &day);
    day.tm_mday += 1;
    day.tm_hour = 8;
    day.tm_min = 0;
    day.tm_sec = 0;
    day.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&day));
}

SnoozeMenu::SnoozeMenu(QWidget* parent) : QMenu(Q(text::kMenuSnooze), parent) {
    AddLength(text::kSnoozeOneHour, ids::kCmdSnoozeOneHour, SnoozeLength::kOneHour);
    AddLength(text::kSnoozeFourHours, ids::kCmdSnoozeFourHours, SnoozeLength::kFourHours);
    AddLength(text::kSnoozeTomorrow, ids::kCmdSnoozeTomorrow, SnoozeLength::kUntilTomorrowMorning);
    addSeparator();
    resume_ = addAction(Q(text::kSnoozeResume));
    SetControlId(*resume_, ids::kCmdResumeAlerts);
    resume_->setEnabled(false);
    connect(resume_, &QAction::triggered, this, &SnoozeMenu::ResumeRequested);
    connect(this, &QMenu::aboutToShow, this, &SnoozeMenu::Refresh);
}

void SnoozeMenu::Refresh() {
    resume_->setEnabled(isSnoozed && isSnoozed());
}

QAction* SnoozeMenu::AddLength(std::string_view label, int id, SnoozeLength length) {
    QAction* action = addAction(Q(label));
    SetControlId(*action, id);
    connect(action, &QAction::triggered, this, [this, length] { emit SnoozeRequested(length); });
    return action;
}

}  // namespace orvalin::desktop
