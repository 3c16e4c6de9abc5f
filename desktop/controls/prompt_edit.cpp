#include "desktop/controls/prompt_edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>
#include <algorithm>

namespace orvalin::desktop {
namespace {

// Drops control characters (a pasted line break, TAB or escape sequence) as
// they are typed, pasted or set: a one-line address holds none, and none may
// reach a request or a log line.
class WithoutControlCharacters final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override {
        for (qsizetype at = input.size(); at-- > 0;) {
            const char16_t c = input.at(at).unicode();
            if (c < 0x20 || c == 0x7F) {
                input.remove(at, 1);
                if (at < position) {
                    --position;
                }
            }
        }
        return Acceptable;
    }
};

}  // namespace

PromptEdit::PromptEdit(const QString& prompt, bool restoreWhenEmpty, int colourType,
                       QWidget* parent)
    : QLineEdit(prompt, parent),
      prompt_(prompt),
      restoreWhenEmpty_(restoreWhenEmpty),
      colourType_(colourType) {
    setValidator(new WithoutControlCharacters(this));
    RecomputeColour();
}

void PromptEdit::Configure(const QString& prompt, bool restoreWhenEmpty, int colourType) {
    SetPrompt(prompt);
    restoreWhenEmpty_ = restoreWhenEmpty;
    colourType_ = colourType;
}

void PromptEdit::SetPrompt(const QString& prompt) {
    if (prompt != prompt_) {
        prompt_ = prompt;
        updateGeometry();
    }
    if (text() != prompt_) {
        setText(prompt_);
        ShowStart();
    }
}

QSize PromptEdit::minimumSizeHint() const {
    const QSize least = QLineEdit::minimumSizeHint();
    // The text's width with the margins a line edit keeps around it (two
    // pixels a side inside the frame, as QLineEdit's own size hint counts).
    constexpr int kInnerMargins = 2 * 2;
    const QMargins text = textMargins() + contentsMargins();
    const int width =
        fontMetrics().horizontalAdvance(prompt_) + kInnerMargins + text.left() + text.right() + 1;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QSize framed =
        style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(width, least.height()), this);
    return {std::max(least.width(), framed.width()), least.height()};
}

bool PromptEdit::IsShowingPrompt() const {
    return text().trimmed().compare(prompt_, Qt::CaseInsensitive) == 0;
}

void PromptEdit::SetColourType(int type) {
    colourType_ = type;
    RecomputeColour();
}

void PromptEdit::RecomputeColour() {
    const QPalette system = QApplication::palette(this);
    switch (colourType_) {
        case kWindowText:
            unfocusedColour_ = system.color(QPalette::Text);
            break;
        case kHighlight:
            unfocusedColour_ = system.color(QPalette::Highlight);
            break;
        case kGreyText:
            unfocusedColour_ = system.color(QPalette::Disabled, QPalette::Text);
            break;
        case kBlue:
            unfocusedColour_ = QColor(0, 0, 255);
            break;
        default:
            break;
    }
    ApplyTextColour();
}

void PromptEdit::ApplyTextColour() {
    QPalette own = palette();
    const QColor wanted =
        hasFocus() ? QApplication::palette(this).color(QPalette::Text) : unfocusedColour_;
    if (own.color(QPalette::Active, QPalette::Text) == wanted &&
        own.color(QPalette::Inactive, QPalette::Text) == wanted) {
        return;
    }
    own.setColor(QPalette::Active, QPalette::Text, wanted);
    own.setColor(QPalette::Inactive, QPalette::Text, wanted);
    applyingColour_ = true;
    setPalette(own);
    applyingColour_ = false;
}

void PromptEdit::ShowStart() {
    if (!hasFocus()) {
        setCursorPosition(0);
    }
}

void PromptEdit::ClearPromptOnEntry() {
    if (IsShowingPrompt()) {
        clear();
    }
}

void PromptEdit::focusInEvent(QFocusEvent* event) {
    ClearPromptOnEntry();
    QLineEdit::focusInEvent(event);
    ApplyTextColour();
}

void PromptEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (IsShowingPrompt()) {
        setText(prompt_);  // also puts back a prompt typed in other case or with blanks
    } else if (restoreWhenEmpty_ && text().trimmed().isEmpty()) {
        setText(prompt_);
    }
    ShowStart();
    ApplyTextColour();
}

void PromptEdit::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    ClearPromptOnEntry();
}

void PromptEdit::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    // A new system palette: the colour follows the type again.
    if (event->type() == QEvent::ApplicationPaletteChange && !applyingColour_) {
        RecomputeColour();
    }
}

}  // namespace orvalin::desktop
