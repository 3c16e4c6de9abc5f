// A text whose background colour shows a site's last outcome. No colour
// means the standard window colour of the palette at the time of the call.
#pragma once

#include <QColor>
#include <QLabel>
#include <optional>

namespace orvalin::desktop {

class StatusLabel : public QLabel {
    Q_OBJECT
  public:
    explicit StatusLabel(QWidget* parent = nullptr);

    void SetBackColour(std::optional<QColor> colour);
    QColor BackColour() const { return back_; }

  private:
    QColor back_;
};

}  // namespace orvalin::desktop
