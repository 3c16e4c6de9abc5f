// One website panel: the graph, the address box with its Poll and Del
// buttons, the interval and warning boxes and the five texts. The same panel
// serves each of the four slots. It holds no monitoring logic: it reports
// what the user does and shows what it is given.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "desktop/control_id.h"

namespace Ui {
class SitePanel;
}

namespace orvalin::desktop {

class IntervalBox;
class PromptEdit;
class ResponseGraph;
class StateMark;
class StatusLabel;

class SitePanel : public QGroupBox {
    Q_OBJECT
  public:
    SitePanel(int slot, QWidget* parent = nullptr);
    ~SitePanel() override;

    int Slot() const { return slot_; }
    ResponseGraph& Graph() const;
    PromptEdit& AddressBox() const;
    QLineEdit& WarningBox() const;
    QLineEdit& IntervalEdit() const;
    IntervalBox& Interval() const;
    StatusLabel& LastAccess() const;
    // The shape beside "Last access:" that says what its colour says.
    StateMark& Mark() const;
    QLabel& BestAccess() const;
    QLabel& WorstAccess() const;
    QLabel& LastAlert() const;
    QLabel& LastRecovery() const;
    QPushButton& PollButton() const;
    QPushButton& DelButton() const;

    // Wide (graph and fields) or narrow (the graph column alone).
    void ShowDetails(bool on);

    // The caption, shortened in the middle to the panel's width: a long
    // address never widens the panel. The whole text is the panel's
    // accessible name and, while shortened, the caption's tooltip.
    void SetCaption(const QString& caption);
    // As wide as the contents, whatever the caption.
    QSize minimumSizeHint() const override;

  signals:
    // The Poll button, or Enter in the address box.
    void PollRequested(int slot);
    void DelRequested(int slot);
    void IntervalDelta(int slot, int delta);

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void FitCaption();
    QRect CaptionRect() const;
    void ApplyTexts();
    void TagControls();

    int slot_;
    QString caption_;
    std::unique_ptr<Ui::SitePanel> ui_;
};

}  // namespace orvalin::desktop
