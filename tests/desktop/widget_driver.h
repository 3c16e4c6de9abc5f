// Helpers for widget tests: waiting on the event loop, and a driver that
// answers modal dialogs and message boxes as they come up, the way a user
// would, recording what they said.
#pragma once

#include <QAbstractButton>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <vector>

namespace orvalin::test {

// Runs the event loop until done() or the limit; returns done().
bool ProcessUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(10));
void ProcessFor(std::chrono::milliseconds span);

// The key letter "&" marks in a menu entry's or label's text, as Qt reads
// it ("Alt+X"), or empty.
QString KeyLetter(const QString& text);

// Clicks the button once the current event has been handled, so that a modal
// loop the click opens does not run inside the caller.
void ClickLater(QAbstractButton& button);

class ModalDriver {
  public:
    // One step: acts on the top modal widget when it is the one expected.
    // Returns false when the widget is not (yet) the one it waits for.
    using Step = std::function<bool(QWidget& modal)>;

    ModalDriver();
    ~ModalDriver();

    void Then(Step step) { steps_.push_back(std::move(step)); }
    // Answers the next message box with button, recording its text.
    void AnswerBox(QMessageBox::StandardButton button);
    bool Done() const { return steps_.empty(); }
    // The texts of the boxes answered so far, in order.
    const std::vector<QString>& BoxTexts() const { return texts_; }

  private:
    void Poll();

    QTimer timer_;
    std::deque<Step> steps_;
    std::vector<QString> texts_;
};

}  // namespace orvalin::test
