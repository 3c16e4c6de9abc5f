// The "Logs" dialog: the two log switches and the two log file paths, edited
// as a copy; the caller takes them over on OK.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

#include "desktop/logview/log_file_chooser.h"
#include "engine/monitor_engine.h"

namespace Ui {
class LogSettingsDialog;
}

namespace orvalin {

class LogSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    explicit LogSettingsDialog(const LogSettings& settings, QWidget* parent = nullptr);
    ~LogSettingsDialog() override;

    // The four values as they stand in the dialog.
    LogSettings Settings() const;

    // Browse for the access log (or the error log): puts the chosen path into
    // its box; cancelling the file dialog leaves the box as it is.
    void BrowseFor(LogKind kind);

  private:
    std::unique_ptr<Ui::LogSettingsDialog> ui_;
};

}  // namespace orvalin
