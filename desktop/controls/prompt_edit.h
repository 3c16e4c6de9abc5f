// A one-line text box that shows an instruction as its text while it holds
// nothing of the user's: cleared when the box is focused or clicked, put back
// when it is left empty. Its text is drawn in a chosen colour while it is not
// focused and in the normal text colour while it is. Control characters never
// enter it.
#pragma once

#include <QColor>
#include <QLineEdit>
#include <QString>

namespace orvalin::desktop {

class PromptEdit : public QLineEdit {
    Q_OBJECT
  public:
    enum ColourType { kWindowText = 0, kHighlight = 1, kGreyText = 2, kBlue = 3 };

    explicit PromptEdit(QWidget* parent = nullptr)
        : PromptEdit(QString(), true, kWindowText, parent) {}
    PromptEdit(const QString& prompt, bool restoreWhenEmpty, int colourType,
               QWidget* parent = nullptr);

    // The prompt (shown at once), the restore flag and the colour type; the
    // colour itself is recomputed only by SetColourType.
    void Configure(const QString& prompt, bool restoreWhenEmpty, int colourType);

    // Replaces the text with the prompt unless the box shows exactly it already.
    // The box is then at least as wide as the prompt, so that it shows whole.
    void SetPrompt(const QString& prompt);
    QString Prompt() const { return prompt_; }
    // The text, blanks removed at both ends, equals the prompt ignoring case.
    bool IsShowingPrompt() const;
    void SetRestoreWhenEmpty(bool on) { restoreWhenEmpty_ = on; }
    // Any other type keeps the colour as it is.
    void SetColourType(int type);
    QColor UnfocusedColour() const { return unfocusedColour_; }
    // Sets the text as the user would see it placed, from its start.
    void ShowText(const QString& text) {
        setText(text);
        ShowStart();
    }

    QSize minimumSizeHint() const override;

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void ClearPromptOnEntry();
    // An unfocused box shows the start of a long text.
    void ShowStart();
    void ApplyTextColour();
    void RecomputeColour();

    QString prompt_;
    bool restoreWhenEmpty_;
    int colourType_;
    QColor unfocusedColour_;
    bool applyingColour_ = false;
};

}  // namespace orvalin::desktop
