#include "desktop/app/desktop_session.h"

#include <QGuiApplication>
#include <QMetaObject>

#include "desktop/alerts/alert_commands.h"
#include "desktop/dbus/desktop_notifications.h"
#include "desktop/dbus/system_hints.h"
#include "desktop/frontend/desktop_frontend.h"
#include "desktop/frontend/message_broker.h"
#include "desktop/frontend/qt_timers.h"
#include "desktop/tray/tray_icon.h"
#include "desktop/window/main_window.h"
#include "engine/monitor_engine.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "resources/desktop_texts.h"
#include "secrets/keyring.h"
#include "settings/instance_count.h"
#include "settings/settings_store.h"

namespace orvalin::desktop {
namespace {

// The start-up read waits this long at most for another program's lock; a
// store still locked then is reported, not waited for.
constexpr std::chrono::milliseconds kStartupReadWait{3000};

}  // namespace

SessionOptions DefaultSessionOptions() {
    return SessionOptions{SettingsStore::DefaultPath(),
                          InstanceLock::DefaultLockFile(),
                          AutostartEntry(),
                          nullptr,
                          SessionKeyring(),
                          ConnectSessionBus,
                          ConnectSystemBus};
}

DesktopSession::DesktopSession(SessionOptions options)
    : store_(std::make_shared<SettingsStore>(options.settingsFile)),
      instance_(std::make_unique<InstanceLock>(options.lockFile)) {
    // Writes an earlier run could not make before it ended come first.
    store_->ResumeSpooledWrites();

    boxes_ = std::make_unique<MessageBroker>();
    tray_ = std::make_unique<TrayIcon>();
    notifications_ = std::make_unique<DesktopNotifications>(options.sessionBus ? options.sessionBus
                                                                               : ConnectSessionBus);
    window_ = std::make_unique<MainWindow>(store_, *tray_, *boxes_, options.autostart);
    boxes_->SetOwnerWindow(window_.get());
    frontEnd_ = std::make_unique<DesktopFrontEnd>(*window_, *tray_, *boxes_, *notifications_);
    timers_ = std::make_unique<QtTimerHost>();
    dispatcher_ = std::make_unique<QtUiDispatcher>(*timers_);
    std::shared_ptr<IClock> clock = options.clock ? options.clock : std::make_shared<SystemClock>();
    engine_ = std::make_unique<CMonitorEngine>(
        FrontEnd{*frontEnd_, *frontEnd_, *frontEnd_, *frontEnd_, *timers_, *dispatcher_}, store_,
        std::move(clock), std::move(options.keyring));
    timers_->onFire = [engine = engine_.get()](int id) { engine->OnTimer(id); };
    window_->AttachEngine(*engine_);

    engine_->LoadSettings(kStartupReadWait);
    // From what was just read: a locked store must not hold up the start.
    engine_->SetMetricsFile(store_->Cached().Read(key::kMetricsFile));
    // A second instance is counted, not refused.
    RegisterInstance(*store_, instance_->OtherInstanceRunning());
    window_->LoadWindowSettings();
    tray_->Show();
    ConnectSystemServices(options.systemBus ? options.systemBus : ConnectSystemBus);
    engine_->Start();
}

void DesktopSession::ConnectSystemServices(std::function<QDBusConnection()> systemBus) {
    QObject::connect(notifications_.get(), &DesktopNotifications::ActionChosen, window_.get(),
                     [this](NoticeAction action) {
                         switch (action) {
                             case NoticeAction::kOpen:
                                 window_->OpenWindow();
                                 break;
                             case NoticeAction::kCheckNow:
                                 engine_->CheckAllNow();
                                 break;
                             case NoticeAction::kSnoozeHour:
                                 window_->Alerts().Snooze(SnoozeLength::kOneHour);
                                 break;
                         }
                     });
    notifications_->Start();
    systemHints_ = std::make_unique<SystemHints>(std::move(systemBus));
    systemHints_->onResumed = [engine = engine_.get()] { engine->SystemResumed(); };
    systemHints_->onNetworkUp = [engine = engine_.get()] { engine->NetworkChanged(); };
    systemHints_->Start();
}

DesktopSession::~DesktopSession() {
    End();
}

void DesktopSession::Show() {
    window_->show();
    const std::string problem = engine_->StoreProblem();
    if (!problem.empty()) {
        // Once the window is up: the user learns why it holds no settings.
        const std::string box = std::string(text::kStoreUnreadableOpen) + store_->Path().string() +
                                ": " + problem + std::string(text::kStoreUnreadableClose);
        QMetaObject::invokeMethod(
            window_.get(), [boxes = boxes_.get(), box] { boxes->ShowWarning(box); },
            Qt::QueuedConnection);
    }
}

void DesktopSession::End() {
    if (ended_) {
        return;
    }
    ended_ = true;
    // No hint and no notification's action reaches the engine from here on.
    systemHints_.reset();
    QObject::disconnect(notifications_.get(), &DesktopNotifications::ActionChosen, nullptr,
                        nullptr);
    // The position as the user left it, before the window goes from the screen.
    const QPoint corner = window_->OuterPosition();
    window_->hide();
    // The icon could not answer during the wait below: it goes first, and
    // the display learns it now, not after the wait.
    tray_->Remove();
    QGuiApplication::sync();
    engine_->Shutdown();
    window_->SaveOnExit(corner);
    UnregisterInstance(*store_);
    // What cannot be written within the wait is kept for the next start.
    store_->FinishWrites(SettingsStore::kWriterStopWait);
}

}  // namespace orvalin::desktop
