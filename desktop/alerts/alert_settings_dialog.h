// Setup -> "Alert settings...": confirmation, slow warnings, reminders,
// grouping and desktop notifications in one dialog. Every number is a spin
// box with its range: a digit that would leave it is refused as typed, and OK
// is disabled while a number is incomplete (empty, or below its least). OK
// gives the values back whole, Cancel leaves them as they were.
#pragma once

#include <QDialog>
#include <memory>

#include "engine/monitor_engine.h"

namespace Ui {
class AlertSettingsDialog;
}

namespace orvalin::desktop {

class AlertSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    AlertSettingsDialog(const AlertSettings& settings, QWidget* parent = nullptr);
    ~AlertSettingsDialog() override;

    // What the fields hold.
    AlertSettings Settings() const;

  private:
    void ApplyTexts();
    // OK is enabled only while every number is acceptable.
    void UpdateOk();

    std::unique_ptr<Ui::AlertSettingsDialog> ui_;
};

// Opens the dialog over parent with the engine's settings and saves them in
// one call on OK.
void RunAlertSettings(QWidget* parent, CMonitorEngine& engine);

}  // namespace orvalin::desktop
