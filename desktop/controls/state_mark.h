// A small mark beside "Last access:" that tells a site's last outcome by its
// shape, for those who cannot tell the status colours apart: a tick (well),
// an exclamation mark (slow) or a cross (failing), drawn in the text colour.
// The word is its tooltip and its name for screen readers.
#pragma once

#include <QLabel>

namespace orvalin::desktop {

class StateMark : public QLabel {
    Q_OBJECT
  public:
    enum class State { None, Well, Slow, Failing };

    explicit StateMark(QWidget* parent = nullptr);

    void ShowState(State state);
    State Shown() const { return state_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void Draw();

    State state_ = State::None;
};

}  // namespace orvalin::desktop
