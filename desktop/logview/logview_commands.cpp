#include "desktop/logview/logview_commands.h"

#include "desktop/logview/log_settings_dialog.h"
#include "desktop/logview/log_view_dialog.h"

namespace orvalin {

void ShowLogViewer(QWidget* parent, const QString& logFile) {
    LogViewDialog dialog(logFile, parent);
    dialog.exec();
}

void RunLogSettings(QWidget* parent, CMonitorEngine& engine) {
    LogSettingsDialog dialog(engine.Logging(), parent);
    if (dialog.exec() == QDialog::Accepted) {
        engine.SaveLogSettings(dialog.Settings());
    }
}

}  // namespace orvalin
