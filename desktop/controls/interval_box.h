// A text box with up and down arrow buttons beside it. The box holds any
// text; the arrows only propose a change, as an up-down control does: up
// proposes -1, down +1. Whoever listens decides the new text.
#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace orvalin::desktop {

class IntervalBox : public QWidget {
    Q_OBJECT
  public:
    explicit IntervalBox(QWidget* parent = nullptr);

    QLineEdit* Edit() const { return edit_; }
    QToolButton* UpArrow() const { return up_; }
    QToolButton* DownArrow() const { return down_; }

  signals:
    void DeltaProposed(int delta);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
};

}  // namespace orvalin::desktop
