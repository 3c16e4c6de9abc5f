// Desktop notifications through the freedesktop notification server
// (org.freedesktop.Notifications on the session bus). Every call is made
// asynchronously: the GUI thread never waits on the bus. A notice that no
// server takes (no session bus, nobody owns the name, an error or no answer
// in time) is handed back through Unshown, for the caller's fallback.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "desktop/dbus/bus_connector.h"

namespace orvalin::desktop {

// A notice as the desktop shows it.
struct DesktopNotice {
    QString summary;
    QString body;
    bool critical = false;  // urgency 2 instead of 1
    int iconId = 0;         // the tray icon that goes with it
};

enum class NoticeAction { kOpen, kCheckNow, kSnoozeHour };

class DesktopNotifications : public QObject {
    Q_OBJECT
  public:
    explicit DesktopNotifications(BusConnector connector = ConnectSessionBus,
                                  QObject* parent = nullptr);

    // Connects to the bus in the background; notices shown meanwhile wait.
    void Start();
    void Show(const DesktopNotice& notice);

  signals:
    // A notice that could not be shown as a notification.
    void Unshown(const orvalin::desktop::DesktopNotice& notice);
    // The user chose an action of one of our notifications.
    void ActionChosen(orvalin::desktop::NoticeAction action);

  private slots:
    void OnActionInvoked(uint id, const QString& key, const QDBusMessage& message);
    void OnClosed(uint id, uint reason, const QDBusMessage& message);

  private:
    enum class Bus { kNotStarted, kConnecting, kConnected, kNone };

    void Connected(const QDBusConnection& connection);
    void AskCapabilities(const DesktopNotice& notice);
    void Notify(const DesktopNotice& notice, const QStringList& capabilities);
    bool IsOurs(uint id, const QDBusMessage& message) const;

    BusConnector connector_;
    Bus bus_ = Bus::kNotStarted;
    std::optional<QDBusConnection> connection_;
    std::vector<DesktopNotice> waiting_;
    // The notifications shown and not closed yet, and the server that showed them.
    std::deque<uint> shown_;
    QString server_;
};

}  // namespace orvalin::desktop
