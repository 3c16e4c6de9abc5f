// The icon in the notification area: its menu ("Open", "About", "Snooze
// alerts", "Terminate"), the double click that opens the window, the icon and
// tooltip the engine sets, and the messages shown beside it when there is no
// notification server. Whether a notification area exists is kept for other
// threads.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <atomic>
#include <memory>

#include "desktop/alerts/snooze_menu.h"

namespace orvalin::desktop {

class TrayIcon : public QObject {
    Q_OBJECT
  public:
    static constexpr int kTipLength = 63;
    static constexpr int kMessageMs = 10000;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Icon 128 with the tooltip "Orvalin".
    void Show();
    void Remove();
    void SetIconAndTip(int iconId, const QString& tip);
    // A message beside the icon; false when there is no notification area.
    bool ShowMessage(const QString& title, const QString& body, bool critical);

    int IconId() const { return iconId_; }
    QString ToolTip() const { return icon_.toolTip(); }
    QMenu& Menu() { return menu_; }
    QAction* OpenAction() const { return open_; }
    QAction* AboutAction() const { return about_; }
    QAction* TerminateAction() const { return terminate_; }
    SnoozeMenu& Snooze() { return snooze_; }

    // Any thread: whether a notification area was there at the last look.
    bool Available() const { return available_.load(); }
    // GUI thread: looks again.
    bool RefreshAvailability();

  signals:
    void OpenRequested();
    void AboutRequested();
    void TerminateRequested();

  private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    QMenu menu_;
    SnoozeMenu snooze_;
    QAction* open_;
    QAction* about_;
    QAction* terminate_;
    QSystemTrayIcon icon_;
    int iconId_ = 0;
    std::atomic<bool> available_{false};
};

}  // namespace orvalin::desktop
