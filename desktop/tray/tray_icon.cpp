#include "desktop/tray/tray_icon.h"

#include "desktop/control_id.h"
#include "desktop/qt_text.h"
#include "desktop/tray/icon_library.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin::desktop {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
    open_ = menu_.addAction(Q(text::kTrayOpen));
    about_ = menu_.addAction(Q(text::kTrayAbout));
    menu_.addSeparator();
    menu_.addMenu(&snooze_);
    menu_.addSeparator();
    terminate_ = menu_.addAction(Q(text::kTrayTerminate));
    SetControlId(*open_, ids::kCmdOpen);
    SetControlId(*about_, ids::kCmdAbout);
    SetControlId(*terminate_, ids::kCmdExit);
    menu_.setDefaultAction(open_);  // drawn in bold, as the double click's command
    icon_.setContextMenu(&menu_);

    connect(open_, &QAction::triggered, this, &TrayIcon::OpenRequested);
    connect(about_, &QAction::triggered, this, &TrayIcon::AboutRequested);
    connect(terminate_, &QAction::triggered, this, &TrayIcon::TerminateRequested);
    connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);
    // A click on a message opens the window, as the notification's action does.
    connect(&icon_, &QSystemTrayIcon::messageClicked, this, &TrayIcon::OpenRequested);
    RefreshAvailability();
}

TrayIcon::~TrayIcon() {
    Remove();
}

void TrayIcon::Show() {
    SetIconAndTip(ids::kIconNormal, Q(text::kAppTitle));
    icon_.show();
}

void TrayIcon::Remove() {
    icon_.hide();
}

void TrayIcon::SetIconAndTip(int iconId, const QString& tip) {
    if (iconId != iconId_) {
        iconId_ = iconId;
        icon_.setIcon(IconById(iconId));
    }
    icon_.setToolTip(tip.left(kTipLength));
}

bool TrayIcon::ShowMessage(const QString& title, const QString& body, bool critical) {
    if (!RefreshAvailability() || !icon_.isVisible()) {
        return false;
    }
    icon_.showMessage(title, body,
                      critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information,
                      kMessageMs);
    return true;
}

bool TrayIcon::RefreshAvailability() {
    const bool present = QSystemTrayIcon::isSystemTrayAvailable();
    available_.store(present);
    return present;
}

// Only the double click opens the window; a single click does nothing and
// the context menu shows itself.
void TrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
        emit OpenRequested();
    }
}

}  // namespace orvalin::desktop
