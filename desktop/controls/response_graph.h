// The bar chart of a site's recent response times: thin bars coloured by the
// outcome of each check, newest at one edge, beside a column of axis labels.
// It only stores and draws; its owner decides values, states, scale and labels.
// Every call and the painting happen on the GUI thread.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <array>
#include <vector>

namespace orvalin::desktop {

class ResponseGraph : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxLabels = 10;
    static constexpr int kBarWidth = 2;
    static constexpr int kBarStep = 3;  // a bar and the gap after it

    // The ring holds one point per pixel of the primary screen's width, read
    // once here; capacity 0 (no screen) falls back to 1024 points.
    explicit ResponseGraph(QWidget* parent = nullptr, int capacity = 0);

    void AddPoint(double value, int state);
    void ClearData();  // values and states to zero; the ring position stays
    void SetScale(double scale);
    void SetLabel(int row, const QString& text);  // no repaint of its own
    void SetLabelWidth(int pixels);
    void SetLabelCount(int count);  // 0 to kMaxLabels; larger counts are refused
    void SetDirection(bool newestLeft);
    void SetLabelSide(bool left);

    int Capacity() const { return static_cast<int>(values_.size()); }
    double Scale() const { return scale_; }
    QString Label(int row) const;

    static QColor BarColour(int state, bool& drawn);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::array<QString, kMaxLabels> labels_;
    int labelCount_ = 0;
    int labelWidth_ = 0;
    std::size_t pos_ = 0;
    double scale_ = 100.0;
    std::vector<double> values_;
    std::vector<int> states_;
    bool labelsLeft_ = true;
    bool newestLeft_ = true;
};

}  // namespace orvalin::desktop
