// The main window's commands for the logs and Tell a friend. Each runs on
// the GUI thread and returns once its dialog has closed.
#pragma once

#include <QString>

#include "engine/monitor_engine.h"
#include "settings/settings_store.h"

class QWidget;

namespace orvalin {

// View -> "Access log" / "Error log": the log viewer on logFile (the
// engine's Logging().accessLogFile or .errorLogFile). Refresh reloads inside
// the same window.
void ShowLogViewer(QWidget* parent, const QString& logFile);

// Setup -> "Log settings": edits a copy of engine.Logging(); OK hands it to
// engine.SaveLogSettings, Cancel changes nothing.
void RunLogSettings(QWidget* parent, CMonitorEngine& engine);

// Help -> "Tell a friend...": the recommendation dialog; on OK the sender,
// subject and body are remembered in store and the message is sent off the
// GUI thread with a modal indicator. engine.Mail().senderEmail is the
// default sender.
void RunTellAFriend(QWidget* parent, CMonitorEngine& engine, SettingsStore& store);

}  // namespace orvalin
