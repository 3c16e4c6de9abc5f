// The main window's commands for the logs. Each runs on the GUI thread and
// returns once its dialog has closed.
#pragma once

#include <QString>

#include "engine/monitor_engine.h"

class QWidget;

namespace orvalin {

// View -> "Access log" / "Error log": the log viewer on logFile (the
// engine's Logging().accessLogFile or .errorLogFile). Refresh reloads inside
// the same window.
void ShowLogViewer(QWidget* parent, const QString& logFile);

// Setup -> "Log settings": edits a copy of engine.Logging(); OK hands it to
// engine.SaveLogSettings, Cancel changes nothing.
void RunLogSettings(QWidget* parent, CMonitorEngine& engine);

}  // namespace orvalin
