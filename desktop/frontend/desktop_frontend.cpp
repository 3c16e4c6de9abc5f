#include "desktop/frontend/desktop_frontend.h"

#include "desktop/controls/prompt_edit.h"
#include "desktop/controls/response_graph.h"
#include "desktop/controls/state_mark.h"
#include "desktop/controls/status_label.h"
#include "desktop/dbus/desktop_notifications.h"
#include "desktop/frontend/message_broker.h"
#include "desktop/panel/site_panel.h"
#include "desktop/qt_text.h"
#include "desktop/tray/tray_icon.h"
#include "desktop/window/main_window.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"

namespace orvalin::desktop {
namespace {

bool ValidSlot(int slot) {
    return slot >= 0 && slot < 4;
}

// The tray icon that says the same as the notice.
int IconOf(NoticeKind kind) {
    switch (kind) {
        case NoticeKind::Alert:
        case NoticeKind::Reminder:
            return ids::kIconUnreachable;
        case NoticeKind::SlowWarning:
            return ids::kIconSlow;
        case NoticeKind::Recovery:
            break;
    }
    return ids::kIconNormal;
}

}  // namespace

void GraphAdapter::AddPoint(double value, int state) {
    graph_->AddPoint(value, state);
}
void GraphAdapter::ClearData() {
    graph_->ClearData();
}
void GraphAdapter::SetScale(double scale) {
    graph_->SetScale(scale);
}
void GraphAdapter::SetLabels(const std::array<std::string, kLabelDivisions>& labels) {
    for (int row = 0; row < kLabelDivisions; ++row) {
        graph_->SetLabel(row, Q(labels[static_cast<std::size_t>(row)]));
    }
}
void GraphAdapter::SetLabelWidth(int pixels) {
    graph_->SetLabelWidth(pixels);
}
void GraphAdapter::SetLabelCount(int count) {
    graph_->SetLabelCount(count);
}
void GraphAdapter::SetDirection(int newestLeft) {
    graph_->SetDirection(newestLeft != 0);
}
void GraphAdapter::SetLabelSide(int left) {
    graph_->SetLabelSide(left != 0);
}

DesktopFrontEnd::DesktopFrontEnd(MainWindow& window, TrayIcon& tray, MessageBroker& boxes,
                                 DesktopNotifications& notifications)
    : window_(window), tray_(tray), boxes_(boxes), notifications_(notifications) {
    for (int i = 0; i < 4; ++i) {
        graphs_[static_cast<std::size_t>(i)].Bind(window_.Panel(i).Graph());
    }
    QObject::connect(&notifications_, &DesktopNotifications::Unshown, &tray_,
                     [&tray = tray_](const DesktopNotice& notice) {
                         tray.ShowMessage(notice.summary, notice.body, notice.critical);
                     });
}

std::string DesktopFrontEnd::AddressBoxText(int slot) {
    return ValidSlot(slot) ? S(window_.Panel(slot).AddressBox().text()) : std::string();
}

void DesktopFrontEnd::SetAddressBoxText(int slot, const std::string& text) {
    if (ValidSlot(slot)) {
        window_.Panel(slot).AddressBox().ShowText(Q(text));
    }
}

void DesktopFrontEnd::FocusAddressBox(int slot) {
    if (ValidSlot(slot)) {
        window_.Panel(slot).AddressBox().setFocus();
    }
}

std::string DesktopFrontEnd::WarningBoxText(int slot) {
    return ValidSlot(slot) ? S(window_.Panel(slot).WarningBox().text()) : std::string();
}

void DesktopFrontEnd::SetWarningBoxText(int slot, const std::string& text) {
    if (ValidSlot(slot)) {
        window_.Panel(slot).WarningBox().setText(Q(text));
    }
}

std::string DesktopFrontEnd::IntervalBoxText(int slot) {
    return ValidSlot(slot) ? S(window_.Panel(slot).IntervalEdit().text()) : std::string();
}

void DesktopFrontEnd::SetIntervalBoxText(int slot, const std::string& text) {
    if (ValidSlot(slot)) {
        window_.Panel(slot).IntervalEdit().setText(Q(text));
    }
}

void DesktopFrontEnd::SetCaption(int slot, const std::string& caption) {
    if (ValidSlot(slot)) {
        window_.Panel(slot).SetCaption(Q(caption));
    }
}

void DesktopFrontEnd::SetStatusColour(int slot, std::optional<Colour> colour) {
    if (!ValidSlot(slot)) {
        return;
    }
    StatusLabel& label = window_.Panel(slot).LastAccess();
    StateMark& mark = window_.Panel(slot).Mark();
    if (!colour) {
        label.SetBackColour(std::nullopt);
        label.setAccessibleDescription(QString());
        mark.ShowState(StateMark::State::None);
        return;
    }
    label.SetBackColour(QColor(colour->red, colour->green, colour->blue));
    // What the colour says, for those who do not see it: a shape beside it,
    // and the word for screen readers.
    std::string_view meaning = text::kStatusWell;
    StateMark::State state = StateMark::State::Well;
    if (*colour == kColourUnreachable) {
        meaning = text::kStatusFailing;
        state = StateMark::State::Failing;
    } else if (*colour == kColourSlow) {
        meaning = text::kStatusSlow;
        state = StateMark::State::Slow;
    }
    label.setAccessibleDescription(Q(meaning));
    mark.ShowState(state);
}

void DesktopFrontEnd::ClearPanelTexts(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    SitePanel& panel = window_.Panel(slot);
    panel.LastAccess().clear();
    panel.LastAccess().setToolTip(QString());
    panel.BestAccess().clear();
    panel.WorstAccess().clear();
    panel.LastAlert().clear();
    panel.LastRecovery().clear();
}

void DesktopFrontEnd::ApplyPanelUpdate(int slot, const PanelUpdate& update) {
    if (!ValidSlot(slot)) {
        return;
    }
    SitePanel& panel = window_.Panel(slot);
    GraphAdapter& graph = graphs_[static_cast<std::size_t>(slot)];
    graph.SetLabels(update.labels);
    graph.SetScale(update.scale);
    panel.LastAccess().setText(Q(update.lastAccess));
    // A failure's cause ("TLS: certificate has expired") where the user points.
    panel.LastAccess().setToolTip(Q(update.cause));
    if (update.bestAccess) {
        panel.BestAccess().setText(Q(*update.bestAccess));
    }
    if (update.worstAccess) {
        panel.WorstAccess().setText(Q(*update.worstAccess));
    }
    panel.LastAlert().setText(Q(update.lastAlert));
    panel.LastRecovery().setText(Q(update.lastRecovery));
}

IResponseGraph& DesktopFrontEnd::Graph(int slot) {
    return graphs_[static_cast<std::size_t>(ValidSlot(slot) ? slot : 0)];
}

// A notification area may have come or gone since the last look.
void DesktopFrontEnd::CheckFinished(const CheckReport&) {
    tray_.RefreshAvailability();
}

bool DesktopFrontEnd::HasTray() const {
    return tray_.Available();
}

void DesktopFrontEnd::SetIconAndTip(int iconId, const std::string& tip) {
    tray_.SetIconAndTip(iconId, Q(tip));
}

void DesktopFrontEnd::ShowNotice(const Notice& notice) {
    notifications_.Show(DesktopNotice{Q(notice.subject), Q(notice.body),
                                      notice.kind == NoticeKind::Alert, IconOf(notice.kind)});
}

void DesktopFrontEnd::ShowWarning(const std::string& text) {
    boxes_.ShowWarning(text);
}

bool DesktopFrontEnd::AskYesNo(const std::string& text) {
    return boxes_.AskYesNo(text);
}

void DesktopFrontEnd::BeginClosing() {
    boxes_.BeginClosing();
}

void DesktopFrontEnd::OpenEmailSettings() {
    window_.OpenEmailSettings();
}

void DesktopFrontEnd::HideWindow() {
    window_.HideWindow();
}

void DesktopFrontEnd::ApplyLayout() {
    window_.ApplyLayout();
}

}  // namespace orvalin::desktop
