// The three display controls, drawn and driven for real: the graph's pixels,
// the status label's colours and the address box's prompt and focus rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "desktop/control_id.h"
#include "desktop/controls/prompt_edit.h"
#include "desktop/controls/response_graph.h"
#include "desktop/controls/status_label.h"
#include "desktop/tray/icon_library.h"
#include "desktop/tray/tray_icon.h"
#include "widget_driver.h"

namespace orvalin::desktop {
namespace {

const QColor kBlack(0, 0, 0);
const QColor kBarGreen(0, 252, 0);
const QColor kBarYellow(253, 255, 48);
const QColor kBarRed(252, 0, 0);

// A graph of 200 by 102 pixels: the label column is x 150 to 199, the plot
// x 0 to 149, the usable bar height 100, the newest bar at x 148 and 149.
class GraphPixels : public testing::Test {
  protected:
    GraphPixels() : graph(nullptr, 500) {
        graph.resize(200, 102);
        graph.SetLabelWidth(50);
        graph.SetLabelCount(5);
        for (int row = 0; row < 5; ++row) {
            graph.SetLabel(row, QStringLiteral("%1ms").arg((5 - row) * 20));
        }
        graph.SetDirection(false);
        graph.SetLabelSide(false);
        graph.SetScale(100.0);
    }

    QImage Render() { return graph.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // The height of the coloured part of the bar whose left column is x, and
    // whether both of its columns hold exactly that colour up to the bottom.
    static int BarHeight(const QImage& image, int x, const QColor& colour) {
        int height = 0;
        for (int y = 101; y >= 0 && image.pixelColor(x, y) == colour; --y) {
            EXPECT_EQ(image.pixelColor(x + 1, y), colour) << "x " << x + 1 << " y " << y;
            ++height;
        }
        return height;
    }

    static bool ColumnIsBlack(const QImage& image, int x) {
        for (int y = 0; y < 102; ++y) {
            if (image.pixelColor(x, y) != kBlack) {
                return false;
            }
        }
        return true;
    }

    static bool PlotIsBlack(const QImage& image) {
        for (int x = 0; x < 150; ++x) {
            if (!ColumnIsBlack(image, x)) {
                return false;
            }
        }
        return true;
    }

    ResponseGraph graph;
};

TEST_F(GraphPixels, BarsStandNewestRightTwoPixelsWideWithOneBlankBetween) {
    graph.AddPoint(50.0, 0);
    graph.AddPoint(20.0, 1);
    graph.AddPoint(75.5, 2);
    const QImage image = Render();

    EXPECT_EQ(BarHeight(image, 148, kBarRed), 75);  // truncated from 75.5
    EXPECT_EQ(BarHeight(image, 145, kBarYellow), 20);
    EXPECT_EQ(BarHeight(image, 142, kBarGreen), 50);
    // Above each bar, between bars and before the oldest point: black.
    EXPECT_EQ(image.pixelColor(148, 101 - 75), kBlack);
    EXPECT_TRUE(ColumnIsBlack(image, 147));
    EXPECT_TRUE(ColumnIsBlack(image, 144));
    EXPECT_TRUE(ColumnIsBlack(image, 141));
    EXPECT_TRUE(ColumnIsBlack(image, 139));
    EXPECT_TRUE(ColumnIsBlack(image, 0));
}

TEST_F(GraphPixels, ValueOverTheScaleFillsTheUsableHeightOnly) {
    graph.AddPoint(5000.0, 0);
    const QImage image = Render();
    EXPECT_EQ(BarHeight(image, 148, kBarGreen), 100);
    EXPECT_EQ(image.pixelColor(148, 1), kBlack);
    EXPECT_EQ(image.pixelColor(148, 0), kBlack);
}

TEST_F(GraphPixels, FailedPointIsInvisibleButTakesItsSlot) {
    graph.AddPoint(40.0, 0);
    graph.AddPoint(0.0, 2);
    const QImage image = Render();
    EXPECT_TRUE(ColumnIsBlack(image, 148));
    EXPECT_TRUE(ColumnIsBlack(image, 149));
    EXPECT_EQ(BarHeight(image, 145, kBarGreen), 40);
}

TEST_F(GraphPixels, ScaleZeroDrawsLabelsOnlyAndOtherStatesDrawNoBar) {
    graph.AddPoint(40.0, 0);
    graph.SetScale(0.0);
    EXPECT_TRUE(PlotIsBlack(Render()));

    graph.SetScale(-10.0);
    EXPECT_TRUE(PlotIsBlack(Render()));

    graph.SetScale(100.0);
    graph.AddPoint(40.0, 7);
    const QImage image = Render();
    EXPECT_TRUE(ColumnIsBlack(image, 148));
    EXPECT_EQ(BarHeight(image, 145, kBarGreen), 40);
}

TEST_F(GraphPixels, LabelsAreWhiteAndCentredInTheirRowsOfTheRightColumn) {
    const QImage image = Render();
    const int rowHeight = 102 / 5;
    for (int row = 0; row < 5; ++row) {
        int left = 200, right = -1, top = 102, bottom = -1;
        for (int y = row * rowHeight; y < (row + 1) * rowHeight; ++y) {
            for (int x = 0; x < 200; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 128 && c.green() > 128 && c.blue() > 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        ASSERT_GE(right, 0) << "row " << row << " has no text";
        EXPECT_GE(left, 150) << "row " << row;
        EXPECT_NEAR((left + right) / 2.0, 175.0, 2.0) << "row " << row;
        EXPECT_NEAR((top + bottom) / 2.0, row * rowHeight + rowHeight / 2.0, 3.0) << "row " << row;
    }
    EXPECT_TRUE(PlotIsBlack(image));
}

TEST_F(GraphPixels, LabelsLeftNewestLeftAndClearedData) {
    graph.SetLabelSide(true);
    graph.SetDirection(true);
    graph.AddPoint(30.0, 0);
    graph.AddPoint(60.0, 1);
    QImage image = Render();
    // Plot x 50 to 199: newest at 50, the one before at 53.
    EXPECT_EQ(BarHeight(image, 50, kBarYellow), 60);
    EXPECT_EQ(BarHeight(image, 53, kBarGreen), 30);

    graph.ClearData();
    graph.SetScale(100.0);
    image = Render();
    EXPECT_TRUE(ColumnIsBlack(image, 50));
    EXPECT_TRUE(ColumnIsBlack(image, 53));
    // The ring position is kept: the next point is the newest again.
    graph.AddPoint(10.0, 0);
    EXPECT_EQ(BarHeight(Render(), 50, kBarGreen), 10);
}

TEST(ResponseGraph, RingIsSizedToTheScreenWidthAndWrapsOver) {
    ResponseGraph screenSized;
    EXPECT_EQ(screenSized.Capacity(), QGuiApplication::primaryScreen()->geometry().width());

    // A ring of 4 shown in a plot of 50 slots repeats its 4 points; after 6
    // points the two oldest are overwritten.
    ResponseGraph small(nullptr, 4);
    small.resize(200, 102);
    small.SetLabelWidth(50);
    small.SetDirection(false);
    small.SetLabelSide(false);
    small.SetScale(100.0);
    for (int value : {10, 20, 30, 40, 50, 60}) {
        small.AddPoint(value, 0);
    }
    const QImage image = small.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto height = [&](int x) {
        int h = 0;
        for (int y = 101; y >= 0 && image.pixelColor(x, y) == kBarGreen; --y) {
            ++h;
        }
        return h;
    };
    EXPECT_EQ(height(148), 60);
    EXPECT_EQ(height(145), 50);
    EXPECT_EQ(height(142), 40);
    EXPECT_EQ(height(139), 30);
    EXPECT_EQ(height(136), 60);  // round the ring again
}

TEST(StatusLabel, ColoursItsBackgroundAndReturnsToThePalettesFaceColour) {
    const QPalette original = QApplication::palette();
    StatusLabel label;
    label.resize(120, 20);
    EXPECT_EQ(label.BackColour(), original.color(QPalette::Window));

    label.SetBackColour(QColor(255, 0, 0));
    EXPECT_EQ(label.grab().toImage().pixelColor(2, 2), QColor(255, 0, 0));
    label.SetBackColour(QColor(253, 255, 48));
    EXPECT_EQ(label.grab().toImage().pixelColor(2, 2), QColor(253, 255, 48));
    label.SetBackColour(QColor(0, 255, 0));
    EXPECT_EQ(label.grab().toImage().pixelColor(2, 2), QColor(0, 255, 0));

    // No colour: the face colour of the palette as it is now.
    QPalette changed = original;
    changed.setColor(QPalette::Window, QColor(10, 20, 30));
    QApplication::setPalette(changed);
    label.SetBackColour(std::nullopt);
    EXPECT_EQ(label.BackColour(), QColor(10, 20, 30));
    EXPECT_EQ(label.grab().toImage().pixelColor(2, 2), QColor(10, 20, 30));
    QApplication::setPalette(original);
}

class PromptBox : public testing::Test {
  protected:
    PromptBox() {
        auto* row = new QHBoxLayout(&window);
        box = new PromptEdit(QStringLiteral("<Enter Text Here>"), true, PromptEdit::kWindowText);
        other = new QLineEdit;
        row->addWidget(box);
        row->addWidget(other);
        box->SetColourType(PromptEdit::kBlue);
        box->SetPrompt(QStringLiteral("<Use this box>"));
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        test::ProcessFor(std::chrono::milliseconds(20));
    }

    void Enter() {
        box->setFocus();
        test::ProcessUntil([&] { return box->hasFocus(); });
    }
    void Leave() {
        other->setFocus();
        test::ProcessUntil([&] { return other->hasFocus(); });
    }
    QColor TextColour() const { return box->palette().color(QPalette::Active, QPalette::Text); }

    QWidget window;
    PromptEdit* box = nullptr;
    QLineEdit* other = nullptr;
};

TEST_F(PromptBox, FocusClearsThePromptAndLeavingEmptyOrBlankRestoresIt) {
    EXPECT_EQ(box->text(), "<Use this box>");
    Enter();
    EXPECT_EQ(box->text(), "");
    Leave();
    EXPECT_EQ(box->text(), "<Use this box>");

    Enter();
    QTest::keyClicks(box, "   ");
    Leave();
    EXPECT_EQ(box->text(), "<Use this box>");

    Enter();
    QTest::keyClicks(box, "http://example.org/");
    Leave();
    EXPECT_EQ(box->text(), "http://example.org/");
    Enter();
    EXPECT_EQ(box->text(), "http://example.org/");  // an address stays
}

TEST_F(PromptBox, PromptInOtherCaseCountsAsThePromptAndIsPutBackInItsOwnForm) {
    Enter();
    QTest::keyClicks(box, "  <USE this BOX> ");
    EXPECT_TRUE(box->IsShowingPrompt());
    Leave();
    EXPECT_EQ(box->text(), "<Use this box>");

    // A click clears it as the focus does, also in a box that has the focus.
    box->setText(QStringLiteral("<use THIS box>"));
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(box->text(), "");
}

TEST_F(PromptBox, SetPromptReplacesTypedTextAndColourFollowsTheFocus) {
    Enter();
    QTest::keyClicks(box, "http://example.org/");
    Leave();
    EXPECT_EQ(TextColour(), QColor(0, 0, 255));
    Enter();
    EXPECT_EQ(TextColour(), QApplication::palette().color(QPalette::Text));
    Leave();
    box->SetPrompt(QStringLiteral("<Another prompt>"));
    EXPECT_EQ(box->text(), "<Another prompt>");
    EXPECT_EQ(TextColour(), QColor(0, 0, 255));
}

}  // namespace
}  // namespace orvalin::desktop

namespace orvalin::desktop {
namespace {

TEST(TrayIcon, MenuDefaultEntryIconsAndTooltipCutTo63Characters) {
    TrayIcon tray;
    QList<QAction*> entries = tray.Menu().actions();
    ASSERT_EQ(entries.size(), 6);
    EXPECT_EQ(entries[0]->text(), "&Open Orvalin");
    EXPECT_EQ(entries[1]->text(), "&About Orvalin...");
    EXPECT_TRUE(entries[2]->isSeparator());
    EXPECT_EQ(entries[3]->text(), "&Snooze alerts");
    EXPECT_TRUE(entries[4]->isSeparator());
    EXPECT_EQ(entries[5]->text(), "&Terminate Orvalin");
    EXPECT_EQ(tray.Menu().defaultAction(), entries[0]);
    EXPECT_EQ(ControlId(*entries[0]), 32772);
    EXPECT_EQ(ControlId(*entries[1]), 57664);
    EXPECT_EQ(ControlId(*entries[5]), 32773);
    ASSERT_NE(entries[3]->menu(), nullptr);
    QStringList snooze;
    for (QAction* entry : entries[3]->menu()->actions()) {
        snooze << entry->text();
    }
    EXPECT_EQ(snooze, QStringList({"For &1 hour", "For &4 hours", "Until &tomorrow 08:00", "",
                                   "&Resume alerts"}));

    tray.Show();
    EXPECT_EQ(tray.IconId(), 128);
    EXPECT_EQ(tray.ToolTip(), "Orvalin");
    const QString longTip =
        "Orvalin\nhttp://www.example.org/a/rather/long/path/that/goes/on/and/on";
    ASSERT_GT(longTip.size(), 63);
    tray.SetIconAndTip(138, longTip);
    EXPECT_EQ(tray.IconId(), 138);
    EXPECT_EQ(tray.ToolTip(), longTip.left(63));

    QSignalSpy terminate(&tray, &TrayIcon::TerminateRequested);
    entries[5]->trigger();
    EXPECT_EQ(terminate.count(), 1);
}

TEST(Icons, EveryDocumentedIconIsDrawnAndOthersAreNot) {
    for (const int id : {128, 131, 132, 133, 134, 138, 142}) {
        const QIcon icon = IconById(id);
        ASSERT_FALSE(icon.isNull()) << id;
        const QImage image = icon.pixmap(32, 32).toImage();
        EXPECT_GT(qAlpha(image.pixel(16, 16)), 0) << id;  // something is drawn in the middle
    }
    EXPECT_TRUE(IconById(129).isNull());
    // The animation frames differ from each other.
    EXPECT_NE(IconById(131).pixmap(32, 32).toImage(), IconById(132).pixmap(32, 32).toImage());
}

}  // namespace
}  // namespace orvalin::desktop
