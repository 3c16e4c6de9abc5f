#include "desktop/panel/site_panel.h"

#include <QHelpEvent>
#include <QStyleOptionGroupBox>
#include <QToolTip>
#include <algorithm>

#include "desktop/controls/interval_box.h"
#include "desktop/controls/prompt_edit.h"
#include "desktop/controls/response_graph.h"
#include "desktop/controls/state_mark.h"
#include "desktop/controls/status_label.h"
#include "desktop/qt_text.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "ui_site_panel.h"

namespace orvalin::desktop {
namespace {

// 245 by 72 dialog units of an 8-point dialog font.
constexpr QSize kGraphSize{368, 117};

std::size_t Index(int slot) {
    return static_cast<std::size_t>(slot);
}

// An address has no blanks to wrap at: the tooltip breaks it into lines
// itself, and shows no more than a screenful.
QString TipLines(const QString& text) {
    constexpr qsizetype kLineLength = 100;
    constexpr qsizetype kMostShown = 20 * kLineLength;
    QString lines;
    for (qsizetype at = 0; at < std::min(text.size(), kMostShown); at += kLineLength) {
        lines += (at > 0 ? QStringLiteral("\n") : QString()) + text.mid(at, kLineLength);
    }
    if (text.size() > kMostShown) {
        lines += QChar(0x2026);
    }
    return lines;
}

}  // namespace

SitePanel::SitePanel(int slot, QWidget* parent)
    : QGroupBox(parent), slot_(slot), ui_(std::make_unique<Ui::SitePanel>()) {
    ui_->setupUi(this);
    // The graph keeps its width and fills the panel's height.
    ui_->graph->setFixedWidth(kGraphSize.width());
    ui_->graph->setMinimumHeight(kGraphSize.height());
    ui_->graph->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    for (QPushButton* button : {ui_->pollButton, ui_->delButton}) {
        button->setMaximumWidth(56);
    }
    ui_->addressBox->Configure(Q(text::kPromptInitial), true, PromptEdit::kWindowText);
    ui_->warningBox->setFixedWidth(81);
    ui_->fields->setMinimumWidth(440);
    ApplyTexts();
    TagControls();

    connect(ui_->pollButton, &QPushButton::clicked, this, [this] { emit PollRequested(slot_); });
    connect(ui_->addressBox, &QLineEdit::returnPressed, this,
            [this] { emit PollRequested(slot_); });
    connect(ui_->delButton, &QPushButton::clicked, this, [this] { emit DelRequested(slot_); });
    connect(ui_->intervalBox, &IntervalBox::DeltaProposed, this,
            [this](int delta) { emit IntervalDelta(slot_, delta); });
}

SitePanel::~SitePanel() = default;

void SitePanel::ApplyTexts() {
    const QString defaultCaption = Q(text::kWebsiteCaption) + QString::number(slot_ + 1);
    SetCaption(defaultCaption);
    ui_->pollButton->setText(Q(text::kPollButton));
    ui_->delButton->setText(Q(text::kDelButton));
    ui_->intervalLabel->setText(Q(text::kPollingInterval));
    ui_->minutesLabel->setText(Q(text::kMinutes));
    ui_->warningLabel->setText(Q(text::kWarningOver));
    ui_->msLabel->setText(Q(text::kMsSuffix));
    ui_->lastAccessLabel->setText(Q(text::kLastAccess));
    ui_->bestAccessLabel->setText(Q(text::kBestAccess));
    ui_->worstAccessLabel->setText(Q(text::kWorstAccess));
    ui_->lastAlertLabel->setText(Q(text::kLastAlert));
    ui_->lastRecoveryLabel->setText(Q(text::kLastRecovery));
    ui_->intervalBox->UpArrow()->setAccessibleName(Q(text::kIntervalUp));
    ui_->intervalBox->DownArrow()->setAccessibleName(Q(text::kIntervalDown));
    // Screen readers name each box by its label.
    ui_->intervalBox->Edit()->setAccessibleName(Q(text::kPollingInterval));
    ui_->warningBox->setAccessibleName(Q(text::kWarningOver));
    ui_->addressBox->setAccessibleName(defaultCaption);
    ui_->graph->setAccessibleName(Q(text::kGraphName));
    // The form cannot name the box inside the interval control.
    ui_->intervalLabel->setBuddy(ui_->intervalBox->Edit());
}

void SitePanel::TagControls() {
    const std::size_t i = Index(slot_);
    SetControlId(*this, ids::kGroupBox[i]);
    SetControlId(*ui_->graph, ids::kGraphArea[i]);
    SetControlId(*ui_->addressBox, ids::kAddressBox[i]);
    SetControlId(*ui_->pollButton, ids::kPollButton[i]);
    SetControlId(*ui_->delButton, ids::kDelButton[i]);
    SetControlId(*ui_->intervalBox->Edit(), ids::kIntervalBox[i]);
    SetControlId(*ui_->intervalBox, ids::kIntervalArrows[i]);
    SetControlId(*ui_->warningBox, ids::kWarningBox[i]);
    SetControlId(*ui_->lastAccessText, ids::kLastAccessText[i]);
    SetControlId(*ui_->bestAccessText, ids::kBestAccessText[i]);
    SetControlId(*ui_->worstAccessText, ids::kWorstAccessText[i]);
    SetControlId(*ui_->lastAlertText, ids::kLastAlertText[i]);
    SetControlId(*ui_->lastRecoveryText, ids::kLastRecoveryText[i]);
}

void SitePanel::ShowDetails(bool on) {
    ui_->fields->setVisible(on);
}

void SitePanel::SetCaption(const QString& caption) {
    caption_ = caption;
    setAccessibleName(caption);
    FitCaption();
}

QSize SitePanel::minimumSizeHint() const {
    // A group box is at least as wide as its title; this one takes the width
    // of its contents, and the caption is fitted in.
    return QWidget::minimumSizeHint();
}

QRect SitePanel::CaptionRect() const {
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
}

void SitePanel::FitCaption() {
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    option.text = caption_;
    const QRect label =
        style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
    // The style's margin before the caption kept after it too, and a blank as
    // a group box leaves after its title.
    const int room =
        width() - 2 * std::max(0, label.left()) - fontMetrics().horizontalAdvance(QLatin1Char(' '));
    const QString shown = fontMetrics().elidedText(caption_, Qt::ElideMiddle, std::max(0, room));
    if (shown != title()) {
        setTitle(shown);
    }
}

void SitePanel::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    FitCaption();
}

bool SitePanel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && title() != caption_) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QRect caption = CaptionRect();
        if (caption.contains(help->pos())) {
            QToolTip::showText(help->globalPos(), TipLines(caption_), this, caption);
            return true;
        }
    }
    return QGroupBox::event(event);
}

ResponseGraph& SitePanel::Graph() const {
    return *ui_->graph;
}
PromptEdit& SitePanel::AddressBox() const {
    return *ui_->addressBox;
}
QLineEdit& SitePanel::WarningBox() const {
    return *ui_->warningBox;
}
QLineEdit& SitePanel::IntervalEdit() const {
    return *ui_->intervalBox->Edit();
}
IntervalBox& SitePanel::Interval() const {
    return *ui_->intervalBox;
}
StatusLabel& SitePanel::LastAccess() const {
    return *ui_->lastAccessText;
}
StateMark& SitePanel::Mark() const {
    return *ui_->stateMark;
}
QLabel& SitePanel::BestAccess() const {
    return *ui_->bestAccessText;
}
QLabel& SitePanel::WorstAccess() const {
    return *ui_->worstAccessText;
}
QLabel& SitePanel::LastAlert() const {
    return *ui_->lastAlertText;
}
QLabel& SitePanel::LastRecovery() const {
    return *ui_->lastRecoveryText;
}
QPushButton& SitePanel::PollButton() const {
    return *ui_->pollButton;
}
QPushButton& SitePanel::DelButton() const {
    return *ui_->delButton;
}

}  // namespace orvalin::desktop
