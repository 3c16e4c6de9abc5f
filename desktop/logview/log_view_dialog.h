// The "Log" dialog: one log file as read-only text, read on a loader thread
// while the dialog is already showing; Refresh, Clear Log, find and Close.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>

#include "desktop/logview/log_lines.h"
#include "desktop/logview/log_loader.h"

namespace Ui {
class LogViewDialog;
}

namespace orvalin {

class LogTextView;

class LogViewDialog : public QDialog {
    Q_OBJECT

  public:
    // Starts reading logFile at once.
    explicit LogViewDialog(QString logFile, QWidget* parent = nullptr, LogLoadOptions options = {});
    ~LogViewDialog() override;

    // Refresh: reads the file again from the start, once the reading still
    // going on has stopped (or a second has passed).
    void Reload();
    // Clear Log: asks, then empties the file under the log writer's lock.
    void ClearLog();
    // The next (or previous) match of the find box's text. A find that takes
    // longer than a moment shows how far it has come and can be cancelled.
    void FindNext(bool backward);
    void CancelFind();

    LogTextView* View() const;
    const QString& LogFile() const { return logFile_; }
    // The reading under way, if any; it stays alive as long as it runs.
    std::shared_ptr<LogLoad> CurrentLoad() const { return load_; }

    // Close, Escape and the window's close button end here: the loader is
    // stopped and waited for at most kStopWait, then the dialog closes.
    void done(int result) override;

    static constexpr std::chrono::milliseconds kStopWait{1000};
    static constexpr std::chrono::milliseconds kProgressPeriod{10};

  signals:
    // The reading has ended and the view holds every line it read.
    void loadEnded();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void StartLoad();
    void StopLoad(std::chrono::milliseconds wait);
    void TakeProgress();
    void ShowLineCount(bool reading);
    void ShowFindResult(const std::optional<FoundText>& found);
    void ShowFindProgress();
    void ShowChange(LogChange change);

    std::unique_ptr<Ui::LogViewDialog> ui_;
    const QString logFile_;
    const LogLoadOptions options_;
    std::shared_ptr<LogLoad> load_;
    QTimer progress_;
    QTimer findProgress_;
    bool findBackward_ = false;
};

}  // namespace orvalin
