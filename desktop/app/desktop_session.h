// One run of the desktop program, from start-up to exit: the settings store,
// the instance count, the window, the tray icon, the engine's seams and the
// engine, built and taken down in their order.
#pragma once

#include <QDBusConnection>
#include <filesystem>
#include <functional>
#include <memory>

#include "desktop/window/autostart_entry.h"

namespace orvalin {
class CMonitorEngine;
class IClock;
class IKeyring;
class InstanceLock;
class SettingsStore;
}  // namespace orvalin

namespace orvalin::desktop {

class DesktopFrontEnd;
class DesktopNotifications;
class MainWindow;
class MessageBroker;
class QtTimerHost;
class QtUiDispatcher;
class SystemHints;
class TrayIcon;

struct SessionOptions {
    std::filesystem::path settingsFile;
    std::filesystem::path lockFile;
    AutostartEntry autostart;
    std::shared_ptr<IClock> clock;  // the system clock when empty
    // Keeps the mail password; when empty, the settings store keeps it.
    std::shared_ptr<IKeyring> keyring;
    // The buses the desktop notifications and the system's hints come
    // from; the session's and the system's when empty.
    std::function<QDBusConnection()> sessionBus;
    std::function<QDBusConnection()> systemBus;
};

SessionOptions DefaultSessionOptions();

class DesktopSession {
  public:
    // Start-up up to the armed timers; the window is not shown yet.
    explicit DesktopSession(SessionOptions options = DefaultSessionOptions());
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Shows the window and the tray icon.
    void Show();
    // The exit: the window and the tray icon go, running checks and mail
    // jobs get their bounded wait, the position and instance count are
    // stored. Runs once; the destructor calls it too.
    void End();

    MainWindow& Window() const { return *window_; }
    TrayIcon& Tray() const { return *tray_; }
    CMonitorEngine& Engine() const { return *engine_; }
    QtTimerHost& Timers() const { return *timers_; }
    MessageBroker& Boxes() const { return *boxes_; }
    DesktopNotifications& Notifications() const { return *notifications_; }
    DesktopFrontEnd& Front() const { return *frontEnd_; }
    const std::shared_ptr<SettingsStore>& Store() const { return store_; }

  private:
    // Notifications' actions, logind's resume and NetworkManager's state.
    void ConnectSystemServices(std::function<QDBusConnection()> systemBus);

    std::shared_ptr<SettingsStore> store_;
    std::unique_ptr<InstanceLock> instance_;
    std::unique_ptr<MessageBroker> boxes_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<DesktopNotifications> notifications_;
    std::unique_ptr<SystemHints> systemHints_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<DesktopFrontEnd> frontEnd_;
    std::unique_ptr<QtTimerHost> timers_;
    std::unique_ptr<QtUiDispatcher> dispatcher_;
    std::unique_ptr<CMonitorEngine> engine_;
    bool ended_ = false;
};

}  // namespace orvalin::desktop
