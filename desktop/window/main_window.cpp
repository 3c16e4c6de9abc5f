#include "desktop/window/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "desktop/alerts/alert_commands.h"
#include "desktop/control_id.h"
#include "desktop/controls/prompt_edit.h"
#include "desktop/dialogs/about_dialog.h"
#include "desktop/dialogs/email_commands.h"
#include "desktop/friend/friend_command.h"
#include "desktop/logview/logview_commands.h"
#include "desktop/panel/site_panel.h"
#include "desktop/qt_text.h"
#include "desktop/tray/icon_library.h"
#include "desktop/tray/tray_icon.h"
#include "desktop/window/help_guide.h"
#include "desktop/window/window_layout.h"
#include "engine/monitor_engine.h"
#include "platform/xdg_paths.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "settings/settings_store.h"

namespace orvalin::desktop {

MainWindow::MainWindow(std::shared_ptr<SettingsStore> store, TrayIcon& tray, IUserDialogs& dialogs,
                       AutostartEntry autostart, QWidget* parent)
    : QMainWindow(parent),
      store_(std::move(store)),
      tray_(tray),
      dialogs_(dialogs),
      autostart_(std::move(autostart)) {
    SetControlId(*this, ids::kMainDialog);
    setWindowTitle(Q(text::kAppTitle));
    // Also while minimised, when screen readers would take the empty icon text.
    setAccessibleName(Q(text::kAppTitle));
    setWindowIcon(IconById(ids::kIconNormal));
    // Fixed size, no maximise box. The minimise box stays: without a
    // notification area, minimising is how the window is put away.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    menu_ = std::make_unique<MainMenu>(*menuBar());
    BuildPanels();
    ConnectCommands();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildPanels() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(6, 4, 6, 6);
    column->setSpacing(4);
    column->setSizeConstraint(QLayout::SetFixedSize);
    for (int i = 0; i < kPanelCount; ++i) {
        auto* panel = new SitePanel(i, central);
        panels_[static_cast<std::size_t>(i)] = panel;
        column->addWidget(panel);
        ConnectPanel(*panel);
    }
    setCentralWidget(central);
}

void MainWindow::ConnectPanel(SitePanel& panel) {
    connect(&panel, &SitePanel::PollRequested, this, [this](int slot) {
        if (engine_ != nullptr) {
            engine_->OnPollButton(slot);
        }
    });
    connect(&panel, &SitePanel::DelRequested, this, [this](int slot) {
        if (engine_ != nullptr) {
            engine_->RemoveSite(slot);
        }
    });
    connect(&panel, &SitePanel::IntervalDelta, this, [this](int slot, int delta) {
        if (engine_ != nullptr) {
            engine_->OnIntervalDelta(slot, delta);
        }
    });
}

void MainWindow::ConnectCommands() {
    const auto on = [this](int id, auto handler) {
        connect(menu_->Action(id), &QAction::triggered, this, handler);
    };
    on(ids::kCmdShowDetails, [this] { ToggleDetails(); });
    on(ids::kCmdCompactMode, [this] { ToggleCompactMode(); });
    on(ids::kCmdStartHidden, [this] { ToggleStartHidden(); });
    on(ids::kCmdAutoStart, [this] { ToggleAutoStart(); });
    on(ids::kCmdHide, [this] { HideWindow(); });
    on(ids::kCmdAlwaysOnTop, [this] { ToggleAlwaysOnTop(); });
    on(ids::kCmdExit, [this] { RequestExit(); });
    on(ids::kCmdAccessLog, [this] { OpenLogViewer(true); });
    on(ids::kCmdErrorLog, [this] { OpenLogViewer(false); });
    on(ids::kCmdEmailSettings, [this] { OpenEmailSettings(); });
    on(ids::kCmdTestEmail, [this] { TestEmailSettings(); });
    on(ids::kCmdAlertSettings, [this] {
        if (alerts_) {
            alerts_->OpenSettings();
        }
    });
    on(ids::kCmdLogSettings, [this] { OpenLogSettings(); });
    on(ids::kCmdProbeMode, [this] { ToggleProbeMode(); });
    for (int i = 0; i < kPanelCount; ++i) {
        on(ids::kCmdResetWebsite[i], [this, i] {
            if (engine_ != nullptr) {
                engine_->ResetSite(i);
            }
        });
    }
    on(ids::kCmdHelpContents, [this] { OpenHelp(); });
    on(ids::kCmdOnTheWeb, [this] { OpenWebPage(); });
    on(ids::kCmdTellAFriend, [this] { OpenTellAFriend(); });
    on(ids::kCmdAbout, [this] { ShowAbout(); });

    // ESC ends the program at once, wherever the focus is in the window.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { RequestExit(); });

    connect(&tray_, &TrayIcon::OpenRequested, this, [this] { OpenWindow(); });
    connect(&tray_, &TrayIcon::AboutRequested, this, [this] { ShowAbout(); });
    connect(&tray_, &TrayIcon::TerminateRequested, this, [this] { RequestExit(); });
}

void MainWindow::AttachEngine(CMonitorEngine& engine) {
    engine_ = &engine;
    email_ = std::make_unique<EmailCommands>(engine, dialogs_, *this);
    alerts_ = std::make_unique<AlertCommands>(engine, *this);
    alerts_->Bind(menu_->Snooze());
    alerts_->Bind(tray_.Snooze());
}

SitePanel& MainWindow::Panel(int slot) const {
    return *panels_[static_cast<std::size_t>(slot)];
}

void MainWindow::LoadWindowSettings() {
    // As the engine read them at start-up: the GUI thread never waits for the file.
    const SettingsSnapshot store = store_->Cached();
    alwaysOnTop_ = false;
    viewDetails_ = true;
    RestorePosition();
    compactMode_ = store.Read(key::kCompactMode) != 0;
    if (store.Read(key::kAlwaysOnTop) != 0) {
        SetAlwaysOnTop(true);
    }
    viewDetails_ = store.Read(key::kViewDetails) != 0;
    startHidden_ = store.Read(key::kStartHidden) != 0;
    autoStart_ = store.Read(key::kAutoStart) != 0;
    probeMode_ = store.Read(key::kProbeMode) != 0;
    menu_->SetChecked(ids::kCmdStartHidden, startHidden_);
    menu_->SetChecked(ids::kCmdAutoStart, autoStart_);
    menu_->SetChecked(ids::kCmdProbeMode, probeMode_);
    SetStartupEntry(autoStart_);
    for (SitePanel* panel : panels_) {
        panel->AddressBox().SetColourType(PromptEdit::kBlue);
        panel->AddressBox().SetPrompt(
            Q(text::kAddressPlaceholders[static_cast<std::size_t>(panel->Slot())]));
    }
    ApplyLayout();
}

void MainWindow::RestorePosition() {
    const SettingsSnapshot stored = store_->Cached();
    const int x = stored.Read(key::kLocX);
    const int y = stored.Read(key::kLocY);
    if (x != key::kLocX.fallback && y != key::kLocY.fallback && IsRestorablePosition(x, y)) {
        move(x, y);
        raise();
    }
}

void MainWindow::OpenWindow() {
    if (hiddenAt_ && windowHandle() != nullptr) {
        // Where it was, as a position of the program's own: one the window
        // manager chose is chosen anew at every showing (QWidget::move to
        // the same place would not say so).
        windowHandle()->setPosition(*hiddenAt_);
    }
    hiddenAt_.reset();
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::RequestExit() {
    exitRequested_ = true;
    close();
}

void MainWindow::HideWindow() {
    if (tray_.RefreshAvailability()) {
        if (isVisible()) {
            hiddenAt_ = geometry().topLeft();
        }
        hide();
        return;
    }
    // No notification area to come back from: a hidden window could not be
    // reached again, so it goes to the taskbar instead.
    showMinimized();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!exitRequested_) {
        event->ignore();
        HideWindow();
        return;
    }
    event->accept();
    emit Exiting();
}

void MainWindow::ApplyLayout() {
    // Taken first: showing or hiding a panel's parts resizes the window at once.
    const QRect before = frameGeometry();
    const QSize frame = before.size() - geometry().size();
    std::array<bool, kPanelCount> inUse{};
    for (int i = 0; i < kPanelCount; ++i) {
        inUse[static_cast<std::size_t>(i)] = engine_ != nullptr && engine_->IsMonitored(i);
    }
    menu_->SetChecked(ids::kCmdShowDetails, viewDetails_);
    menu_->SetChecked(ids::kCmdCompactMode, compactMode_);
    const int shown = PanelsShown(compactMode_, inUse);
    for (int i = 0; i < kPanelCount; ++i) {
        SitePanel& panel = Panel(i);
        panel.ShowDetails(viewDetails_);
        panel.setVisible(i < shown);
    }

    // Shown and hidden parts change the layouts' hints only once their
    // pending layout requests have run.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    centralWidget()->layout()->activate();
    layout()->activate();
    const QSize inner = sizeHint();
    setFixedSize(inner);
    if (viewDetails_ && screen() != nullptr) {
        const int desktopRight = screen()->availableGeometry().right() + 1;
        const int newOuterWidth = inner.width() + frame.width();
        const int left =
            LeftAfterResize(before.left(), before.right() + 1, newOuterWidth, desktopRight);
        if (left != before.left()) {
            move(left, before.top());
        }
    }
    update();
}

void MainWindow::StoreSwitch(const IntKey& key, bool on) {
    // Handed to the store's writer: a store locked by another program never
    // holds up the window.
    store_->Queue(SettingsBatch().Set(key, on ? 1 : 0));
}

void MainWindow::ToggleDetails() {
    viewDetails_ = !viewDetails_;
    StoreSwitch(key::kViewDetails, viewDetails_);
    ApplyLayout();
}

void MainWindow::ToggleCompactMode() {
    compactMode_ = !compactMode_;
    StoreSwitch(key::kCompactMode, compactMode_);
    ApplyLayout();
}

void MainWindow::ToggleStartHidden() {
    startHidden_ = !startHidden_;
    StoreSwitch(key::kStartHidden, startHidden_);
    menu_->SetChecked(ids::kCmdStartHidden, startHidden_);
}

void MainWindow::ToggleAutoStart() {
    autoStart_ = !autoStart_;
    StoreSwitch(key::kAutoStart, autoStart_);
    menu_->SetChecked(ids::kCmdAutoStart, autoStart_);
    SetStartupEntry(autoStart_);
}

void MainWindow::SetStartupEntry(bool on) {
    if (!on) {
        autostart_.Unregister();
        return;
    }
    if (!autostart_.Register(S(QCoreApplication::applicationFilePath()))) {
        dialogs_.ShowWarning(std::string(text::kCouldNotRegister));
    }
}

void MainWindow::ToggleAlwaysOnTop() {
    SetAlwaysOnTop(!alwaysOnTop_);
    StoreSwitch(key::kAlwaysOnTop, alwaysOnTop_);
}

void MainWindow::SetAlwaysOnTop(bool on) {
    alwaysOnTop_ = on;
    menu_->SetChecked(ids::kCmdAlwaysOnTop, alwaysOnTop_);
    // Changing the flag takes the window down; it comes back where it was.
    const bool visible = isVisible();
    const QPoint place = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, alwaysOnTop_);
    move(place);
    if (visible) {
        show();
    }
}

void MainWindow::ToggleProbeMode() {
    probeMode_ = !probeMode_;
    menu_->SetChecked(ids::kCmdProbeMode, probeMode_);
    StoreSwitch(key::kProbeMode, probeMode_);
}

void MainWindow::OpenEmailSettings() {
    if (email_) {
        email_->OpenSettings();
    }
}

void MainWindow::TestEmailSettings() {
    if (email_) {
        email_->RunTest();
    }
}

void MainWindow::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainWindow::OpenHelp() {
    const std::filesystem::path page = GuidePage(ProgramFolder());
    if (!page.empty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page.string())));
    }
}

void MainWindow::OpenWebPage() {
    QDesktopServices::openUrl(QUrl(Q(text::kProductWebPage)));
}

// The log viewer, the log settings dialog and Tell a friend are built
// separately and connected here.
void MainWindow::OpenLogViewer(bool access) {
    const LogSettings logs = engine_->Logging();
    ShowLogViewer(this, QString::fromStdString(access ? logs.accessLogFile : logs.errorLogFile));
}

void MainWindow::OpenLogSettings() {
    RunLogSettings(this, *engine_);
}

void MainWindow::OpenTellAFriend() {
    RunTellAFriend(this, *engine_, *store_);
}

QPoint MainWindow::OuterPosition() const {
    return frameGeometry().topLeft();
}

void MainWindow::SaveOnExit(QPoint corner) {
    // The location list is empty: its end marker alone.
    store_->Queue(SettingsBatch()
                      .Set(key::kLocX, corner.x())
                      .Set(key::kLocY, corner.y())
                      .SetString(section::kLocation, "0", ""));
}

}  // namespace orvalin::desktop
