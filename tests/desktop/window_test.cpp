// The main window over a real engine and settings store: layouts, keys, the
// close button, the interval arrows, the menu, autostart, position and the
// instance count.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <set>

#include "desktop/control_id.h"
#include "desktop/controls/interval_box.h"
#include "desktop/controls/prompt_edit.h"
#include "desktop/controls/response_graph.h"
#include "desktop/controls/state_mark.h"
#include "desktop/controls/status_label.h"
#include "desktop/frontend/qt_timers.h"
#include "desktop/panel/site_panel.h"
#include "desktop/window/autostart_entry.h"
#include "desktop/window/help_guide.h"
#include "desktop/window/main_window.h"
#include "desktop/window/window_layout.h"
#include "engine/monitor_engine.h"
#include "session_fixture.h"
#include "settings/settings_keys.h"
#include "support/loopback_server.h"
#include "support/smtp_servers.h"
#include "widget_driver.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;
using desktop::MainWindow;
using desktop::PromptEdit;
using desktop::SitePanel;

// Refuses every connection, so checks of the stored sites end at once.
class WindowTest : public SessionTest {
  protected:
    std::string Site(const char* path) {
        return "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/" + path;
    }
    MainWindow& Window() { return session->Window(); }
    // The start-up ticks of all four slots have run.
    void WaitForFirstTicks() {
        ASSERT_TRUE(ProcessUntil([&] {
            for (int id = 312; id <= 315; ++id) {
                if (session->Timers().RemainingMs(id) >= 0 &&
                    session->Timers().RemainingMs(id) < 1000) {
                    return false;
                }
            }
            return session->Engine().ActiveChecks() == 0;
        }));
    }
    std::vector<bool> VisiblePanels() {
        std::vector<bool> shown;
        for (int i = 0; i < 4; ++i) {
            shown.push_back(Window().Panel(i).isVisibleTo(&Window()));
        }
        return shown;
    }
    RefusingPort refusing;
};

TEST_F(WindowTest, CompactShowsPanelsUpToTheHighestSlotInUseAndShrinksAfterRemoval) {
    StoreSite(0, Site("zero"));
    StoreSite(2, Site("two"));
    store->WriteInt("Settings", "CompactMode", 1);
    Start();
    EXPECT_EQ(VisiblePanels(), (std::vector<bool>{true, true, true, false}));
    EXPECT_TRUE(Window().Menu().Action(32787)->isChecked());
    const int threePanels = Window().height();

    // Del on slot 2, answered Yes.
    ModalDriver driver;
    driver.AnswerBox(QMessageBox::Yes);
    QTest::mouseClick(&Window().Panel(2).DelButton(), Qt::LeftButton);
    ASSERT_TRUE(ProcessUntil([&] { return driver.Done(); }));
    EXPECT_EQ(driver.BoxTexts().front().toStdString(),
              "Are you sure you want to stop monitoring " + Site("two") + "?");
    EXPECT_EQ(VisiblePanels(), (std::vector<bool>{true, false, false, false}));
    const int onePanel = Window().height();
    EXPECT_LT(onePanel, threePanels);
    EXPECT_EQ(Landed().ReadString("Settings", "lastWebsite2", "x"), "");
    EXPECT_EQ(Window().Panel(2).title(), "Website 3");

    // Compact off: all four, taller than three.
    Window().Menu().Action(32787)->trigger();
    EXPECT_EQ(VisiblePanels(), (std::vector<bool>{true, true, true, true}));
    EXPECT_GT(Window().height(), threePanels);
    EXPECT_EQ(Landed().ReadInt("Settings", "CompactMode", -1), 0);
    EXPECT_FALSE(Window().Menu().Action(32787)->isChecked());
}

TEST_F(WindowTest, DetailsOffLeavesTheGraphColumnOnly) {
    Start();
    EXPECT_TRUE(Window().Menu().Action(32775)->isChecked());
    const int wide = Window().width();
    SitePanel& panel = Window().Panel(0);
    EXPECT_TRUE(panel.AddressBox().isVisibleTo(&Window()));

    Window().Menu().Action(32775)->trigger();
    EXPECT_FALSE(Window().Menu().Action(32775)->isChecked());
    EXPECT_EQ(Landed().ReadInt("Settings", "ViewDetails", -1), 0);
    EXPECT_FALSE(panel.AddressBox().isVisibleTo(&Window()));
    EXPECT_LT(Window().width(), panel.Graph().width() + 60);
    EXPECT_LT(Window().width(), wide);

    Window().Menu().Action(32775)->trigger();
    EXPECT_EQ(Window().width(), wide);
    EXPECT_EQ(Landed().ReadInt("Settings", "ViewDetails", -1), 1);
}

TEST(WindowPlacement, GrowsLeftwardsAtTheDesktopEdgeAndCountsPanels) {
    // A narrow window 600 pixels from the right edge turns wide: its right
    // edge stays and its left edge moves 414 pixels to the left.
    EXPECT_EQ(desktop::LeftAfterResize(680, 1078, 812, 1280), 266);
    EXPECT_EQ(desktop::LeftAfterResize(100, 498, 812, 1280), 100);
    EXPECT_EQ(desktop::PanelsShown(true, {false, false, false, false}), 1);
    EXPECT_EQ(desktop::PanelsShown(true, {true, false, true, false}), 3);
    EXPECT_EQ(desktop::PanelsShown(true, {false, true, false, false}), 2);
    EXPECT_EQ(desktop::PanelsShown(false, {true, false, false, false}), 4);
    EXPECT_TRUE(desktop::IsRestorablePosition(1, 1999));
    EXPECT_FALSE(desktop::IsRestorablePosition(0, 100));
    EXPECT_FALSE(desktop::IsRestorablePosition(100, 2000));
}

TEST_F(WindowTest, EnterPollsOnlyFromAnAddressBoxEscEndsAndCloseDoesNotEnd) {
    Start();
    WaitForFirstTicks();
    desktop::QtTimerHost& timers = session->Timers();
    SitePanel& panel = Window().Panel(2);
    panel.AddressBox().setText(QString::fromStdString(Site("two")));

    QTest::keyClick(&panel.WarningBox(), Qt::Key_Return);
    QTest::keyClick(&panel.IntervalEdit(), Qt::Key_Return);
    EXPECT_FALSE(timers.IsArmed(314));
    QTest::keyClick(&panel.AddressBox(), Qt::Key_Return);
    EXPECT_TRUE(timers.IsArmed(314));
    EXPECT_LE(timers.RemainingMs(314), 100);
    EXPECT_FALSE(timers.IsArmed(312));

    // The close button puts the window away and the program goes on. This
    // platform has no notification area, so the window is minimised, not
    // hidden where nobody could reach it.
    QSignalSpy exiting(&Window(), &MainWindow::Exiting);
    Window().close();
    EXPECT_TRUE(Window().isVisible());
    EXPECT_TRUE(Window().isMinimized());
    EXPECT_EQ(exiting.count(), 0);
    Window().Menu().Action(32774)->trigger();  // Hide
    EXPECT_TRUE(Window().isVisible());
    EXPECT_TRUE(Window().isMinimized());

    Window().OpenWindow();
    EXPECT_FALSE(Window().isMinimized());
    QTest::keyClick(&panel.WarningBox(), Qt::Key_Escape);
    EXPECT_EQ(exiting.count(), 1);
    EXPECT_TRUE(Window().ExitRequested());
}

TEST_F(WindowTest, AFailuresCauseIsTheLastAccessTipAndPastedControlCharactersAreDropped) {
    // An https:// site whose server hangs up fails its TLS handshake.
    LoopbackServer hangUp(ServerScript::Only(ServerScript::Action::kCloseAtOnce));
    store->Write(key::kProbeMode, 1);
    StoreSite(0, "https://" + hangUp.HostAndPort() + "/");
    Start();
    WaitForFirstTicks();
    ASSERT_TRUE(ProcessUntil([&] { return !Window().Panel(0).LastAccess().text().isEmpty(); }));
    EXPECT_TRUE(Window().Panel(0).LastAccess().toolTip().startsWith("TLS: "));

    // A line pasted with its line break and an escape sequence.
    PromptEdit& box = Window().Panel(2).AddressBox();
    box.clear();
    QApplication::clipboard()->setText(QString::fromStdString(Site("x") + "\r\n\x1b[1m\t"));
    box.paste();
    EXPECT_EQ(box.text().toStdString(), Site("x") + "[1m");
}

TEST_F(WindowTest, IntervalArrowsAddAndTakeMinutesFromWhatTheBoxHolds) {
    store->WriteInt("Settings", "Interval1", 2);
    Start();
    SitePanel& panel = Window().Panel(1);
    EXPECT_EQ(panel.IntervalEdit().text(), "2");
    desktop::IntervalBox& arrows = panel.Interval();
    QTest::mouseClick(arrows.DownArrow(), Qt::LeftButton);
    EXPECT_EQ(panel.IntervalEdit().text(), "1");
    QTest::mouseClick(arrows.DownArrow(), Qt::LeftButton);
    EXPECT_EQ(panel.IntervalEdit().text(), "1");
    QTest::mouseClick(arrows.UpArrow(), Qt::LeftButton);
    EXPECT_EQ(panel.IntervalEdit().text(), "2");
    EXPECT_EQ(Landed().ReadInt("Settings", "Interval1", 0), 2);
    EXPECT_GT(session->Timers().RemainingMs(313), 119'000);
    EXPECT_LE(session->Timers().RemainingMs(313), 120'000);

    panel.IntervalEdit().clear();
    QTest::mouseClick(arrows.UpArrow(), Qt::LeftButton);
    EXPECT_EQ(panel.IntervalEdit().text(), "6");
    panel.IntervalEdit().clear();
    QTest::keyClick(&panel.IntervalEdit(), Qt::Key_Down);
    EXPECT_EQ(panel.IntervalEdit().text(), "4");
    EXPECT_EQ(Landed().ReadInt("Settings", "Interval1", 0), 4);
}

TEST_F(WindowTest, MenuHoldsEveryEntryWithItsIdAndStoresTheSwitches) {
    Start();
    const std::vector<std::pair<int, QString>> entries = {
        {32775, "Show &Details"},
        {32787, "&Compact Mode"},
        {32788, "&Start Hidden"},
        {32789, "A&uto Start at Login"},
        {32774, "&Hide"},
        {1116, "&Always on Top"},
        {32773, "E&xit\tESC"},
        {32777, "&Access log"},
        {32778, "&Error log"},
        {32771, "&Email settings"},
        {32790, "&Test Email Settings"},
        {32776, "&Log settings"},
        {32781, "Reset Website &1"},
        {32784, "Reset Website &2"},
        {32785, "Reset Website &3"},
        {32786, "Reset Website &4"},
        {57670, "&Contents"},
        {32779, "On the &web..."},
        {32783, "&Tell a friend..."},
        {57664, "&About"},
        {32791, "&Modern probing (HTTPS, Host header)"},
    };
    for (const auto& [id, label] : entries) {
        QAction* action = Window().Menu().Action(id);
        ASSERT_NE(action, nullptr) << id;
        EXPECT_EQ(action->text(), label) << id;
        EXPECT_EQ(desktop::ControlId(*action), id);
    }

    Window().Menu().Action(32788)->trigger();
    EXPECT_EQ(Landed().ReadInt("Settings", "Hid", -1), 1);
    EXPECT_TRUE(Window().Menu().Action(32788)->isChecked());
    EXPECT_TRUE(Window().isVisible());  // acts at the next start only

    const QPoint place = Window().pos();
    Window().Menu().Action(1116)->trigger();
    EXPECT_EQ(Landed().ReadInt("Settings", "AOT", -1), 1);
    EXPECT_TRUE(Window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(Window().isVisible());
    EXPECT_EQ(Window().pos(), place);
    Window().Menu().Action(1116)->trigger();
    EXPECT_EQ(Landed().ReadInt("Settings", "AOT", -1), 0);
    EXPECT_FALSE(Window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    Window().Menu().Action(32791)->trigger();
    EXPECT_EQ(Landed().ReadInt("Settings", "ProbeMode", -1), 1);
    EXPECT_TRUE(Window().Menu().Action(32791)->isChecked());
}

// One key letter for each menu on the bar and for each entry within its
// menu, and the keyboard alone reaches an entry.
TEST_F(WindowTest, EveryMenuAndEntryHasAKeyLetterOfItsOwn) {
    Start();
    std::vector<QString> titles;
    std::set<QString> barLetters;
    for (QAction* title : Window().menuBar()->actions()) {
        titles.push_back(QString(title->text()).remove('&'));
        const QString letter = KeyLetter(title->text());
        EXPECT_FALSE(letter.isEmpty()) << title->text().toStdString();
        EXPECT_TRUE(barLetters.insert(letter).second) << title->text().toStdString();
        std::set<QString> letters;
        for (QAction* entry : title->menu()->actions()) {
            if (entry->isSeparator()) {
                continue;
            }
            const QString entryLetter = KeyLetter(entry->text());
            EXPECT_FALSE(entryLetter.isEmpty()) << entry->text().toStdString();
            EXPECT_TRUE(letters.insert(entryLetter).second) << entry->text().toStdString();
        }
    }
    EXPECT_EQ(titles, (std::vector<QString>{"Orvalin", "View", "Setup", "Help"}));

    // Alt+O opens the Orvalin menu, D switches the details off.
    Window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    QMenu* program = Window().menuBar()->actions().at(0)->menu();
    QTest::keyClick(&Window(), Qt::Key_O, Qt::AltModifier);
    ASSERT_TRUE(ProcessUntil([&] { return program->isVisible(); }));
    QTest::keyClick(program, Qt::Key_D);
    EXPECT_TRUE(ProcessUntil([&] { return store->ReadInt("Settings", "ViewDetails", -1) == 0; }));
    EXPECT_FALSE(Window().Panel(0).DelButton().isVisibleTo(&Window()));
}

// Beside "Last access:" a shape in the text colour says what the status
// colour says, and its tooltip says the word; a reset takes it away.
TEST_F(WindowTest, AMarkBesideLastAccessTellsTheStateWithoutColour) {
    LoopbackServer site(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n", 5ms));
    LoopbackServer missing(ServerScript::Answer("HTTP/1.0 404 Not Found\r\n\r\n"));
    StoreSite(0, "http://" + site.HostAndPort() + "/");
    StoreSite(1, "http://" + site.HostAndPort() + "/slow");
    store->WriteInt("Settings", "Warn1", 0);
    StoreSite(2, "http://" + missing.HostAndPort() + "/");
    StoreSite(3, Site("refused"));
    Start();
    const auto mark = [&](int slot) -> desktop::StateMark& { return Window().Panel(slot).Mark(); };
    ASSERT_TRUE(ProcessUntil([&] {
        return !mark(0).toolTip().isEmpty() && !mark(1).toolTip().isEmpty() &&
               !mark(2).toolTip().isEmpty() && !mark(3).toolTip().isEmpty();
    }));
    const std::vector<QString> words = {"well", "slow", "failing", "failing"};
    std::vector<QImage> shapes;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(mark(i).toolTip(), words[static_cast<std::size_t>(i)]);
        EXPECT_EQ(mark(i).accessibleName(), words[static_cast<std::size_t>(i)]);
        EXPECT_TRUE(mark(i).isVisibleTo(&Window()));
        const QImage shape = mark(i).pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        const QRgb ink = mark(i).palette().color(QPalette::WindowText).rgb();
        int opaque = 0;
        for (int y = 0; y < shape.height(); ++y) {
            for (int x = 0; x < shape.width(); ++x) {
                if (qAlpha(shape.pixel(x, y)) == 255) {
                    ++opaque;
                    EXPECT_EQ(shape.pixel(x, y), ink);
                }
            }
        }
        EXPECT_GT(opaque, 0);
        shapes.push_back(shape);
    }
    EXPECT_NE(shapes[0], shapes[1]);
    EXPECT_NE(shapes[1], shapes[2]);
    EXPECT_NE(shapes[0], shapes[2]);
    EXPECT_EQ(shapes[2], shapes[3]);

    Window().Menu().Action(32781)->trigger();  // Reset Website 1
    EXPECT_TRUE(ProcessUntil([&] { return mark(0).pixmap().isNull(); }));
    EXPECT_EQ(mark(0).toolTip(), "");
}

TEST_F(WindowTest, LogAndRecommendationCommandsOpenTheirDialogsOnTheCurrentFiles) {
    StoreSite(0, Site("gone"));
    Start();
    WaitForFirstTicks();  // the refused site has written the error log
    const std::string errorLog = session->Engine().Logging().errorLogFile;
    ASSERT_TRUE(std::filesystem::exists(errorLog));

    QString shownPath;
    ModalDriver driver;
    driver.Then([&](QWidget& modal) {
        if (modal.windowTitle() != "Log") {
            return false;
        }
        auto* path = modal.findChild<QLineEdit*>("pathEdit");
        if (path == nullptr || path->text().isEmpty()) {
            return false;  // still loading
        }
        shownPath = path->text();
        QTest::keyClick(&modal, Qt::Key_Escape);
        return true;
    });
    for (const QString title : {"Logs", "Tell a friend"}) {
        driver.Then([title](QWidget& modal) {
            if (modal.windowTitle() != title) {
                return false;
            }
            QTest::keyClick(&modal, Qt::Key_Escape);
            return true;
        });
    }
    Window().Menu().Action(32778)->trigger();
    EXPECT_EQ(shownPath.toStdString(), std::filesystem::canonical(errorLog).string());
    Window().Menu().Action(32776)->trigger();
    Window().Menu().Action(32783)->trigger();
    EXPECT_TRUE(driver.Done());
}

TEST_F(WindowTest, AutostartEntryIsWrittenAtFirstStartRemovedAndReportedWhenBlocked) {
    Start();
    const std::string entry = ReadFileBytes(AutostartFile());
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(
        entry.find("\nExec=\"" + QCoreApplication::applicationFilePath().toStdString() + "\"\n"),
        std::string::npos)
        << entry;
    EXPECT_TRUE(Window().Menu().Action(32789)->isChecked());

    Window().Menu().Action(32789)->trigger();
    EXPECT_FALSE(std::filesystem::exists(AutostartFile()));
    EXPECT_EQ(Landed().ReadInt("Settings", "Auto", -1), 0);

    // The autostart folder cannot be made: the user is told, and the switch
    // keeps the choice.
    std::filesystem::remove_all(AutostartFile().parent_path());
    { std::ofstream(AutostartFile().parent_path()) << "not a folder"; }
    ModalDriver driver;
    driver.AnswerBox(QMessageBox::Ok);
    Window().Menu().Action(32789)->trigger();
    ASSERT_TRUE(ProcessUntil([&] { return driver.Done(); }));
    EXPECT_EQ(driver.BoxTexts().front(), "Could not register Orvalin.");
    EXPECT_TRUE(Window().Menu().Action(32789)->isChecked());
    EXPECT_EQ(Landed().ReadInt("Settings", "Auto", -1), 1);
}

TEST(AutostartEntry, ExecQuotesThePathAsDesktopEntriesRequire) {
    const std::string entry =
        desktop::AutostartEntry::EntryText("/opt/my apps/\"odd\"$dir/orvalin");
    EXPECT_NE(entry.find("\nExec=\"/opt/my apps/\\\\\"odd\\\\\"\\\\$dir/orvalin\"\n"),
              std::string::npos)
        << entry;
}

TEST_F(WindowTest, PositionIsRestoredInRangeAndStoredAtExitWithTheInstanceCount) {
    // Narrow, so that the window fits the offscreen desktop and stays where put.
    store->WriteInt("Settings", "ViewDetails", 0);
    store->WriteInt("Settings", "LocX", 120);
    store->WriteInt("Settings", "LocY", 80);
    Start();
    EXPECT_EQ(Window().OuterPosition(), QPoint(120, 80));
    EXPECT_EQ(Landed().ReadInt("Settings", "NumOpen", -1), 1);
    Window().move(140, 90);
    session->End();
    EXPECT_EQ(Landed().ReadInt("Settings", "LocX", 0), 140);
    EXPECT_EQ(Landed().ReadInt("Settings", "LocY", 0), 90);
    EXPECT_EQ(Landed().ReadInt("Settings", "NumOpen", -1), 0);
    const auto marker = store->Get("Location", "0");
    ASSERT_TRUE(marker.has_value());
    EXPECT_EQ(std::get<std::string>(marker->value), "");
    session.reset();

    store->WriteInt("Settings", "LocX", 0);  // at the screen's left edge: not restored
    store->WriteInt("Settings", "LocY", 80);
    Start();
    EXPECT_NE(Window().OuterPosition(), QPoint(0, 80));
}

TEST_F(WindowTest, LongAddressesNeitherWidenTheWindowNorPushOutItsButtons) {
    Start();
    const int usualWidth = Window().width();
    // An empty box shows its prompt whole: from the text's start the cursor
    // reaches its end without scrolling.
    for (int i = 0; i < 4; ++i) {
        desktop::PromptEdit& box = Window().Panel(i).AddressBox();
        ASSERT_TRUE(box.text().startsWith("<Use this box to enter the")) << i;
        // The box scrolls to the cursor as it paints.
        const auto cursorAt = [&](qsizetype position) {
            box.setCursorPosition(static_cast<int>(position));
            box.grab();
            return box.inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
        };
        const int start = cursorAt(0);
        const int end = cursorAt(box.text().size());
        EXPECT_EQ(end - start, box.fontMetrics().horizontalAdvance(box.text())) << i;
        box.setCursorPosition(0);
    }
    session.reset();
    const std::string longSite = Site("") + std::string(6000, 'a');
    StoreSite(0, longSite);
    Start();
    SitePanel& panel = Window().Panel(0);
    ASSERT_TRUE(ProcessUntil([&] { return panel.accessibleName().toStdString() == longSite; }));
    EXPECT_EQ(Window().width(), usualWidth);
    EXPECT_LE(panel.DelButton().mapTo(&Window(), QPoint(panel.DelButton().width(), 0)).x(),
              Window().width());
    // Shortened in the middle; screen readers get the whole address.
    EXPECT_TRUE(panel.title().startsWith("http://127.0.0.1:")) << panel.title().toStdString();
    EXPECT_TRUE(panel.title().contains(QChar(0x2026)));
    Window().Menu().Action(32775)->trigger();  // narrow: the caption follows
    EXPECT_LE(panel.fontMetrics().horizontalAdvance(panel.title()), panel.width());
}

// A check's box over a dialog that then closes by itself (as the email
// test's notice does) stays until answered, and the site is checked again.
TEST_F(WindowTest, ACheckBoxOutlivesTheDialogUnderItAndTheSiteIsCheckedAgain) {
    store->WriteString("Settings", "SMTP", "127.0.0.1:" + std::to_string(refusing.Port()));
    store->WriteInt("Settings", "DisableEmails", 0);
    store->WriteString("Settings", "SMTPAlert", "me@example.org");
    StoreSite(0, Site("down"));
    Start();
    ModalDriver driver;
    driver.Then([](QWidget& modal) {  // the failed alert's box, over About
        for (QWidget* about : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(&modal) && about->windowTitle() == "About Orvalin") {
                QMetaObject::invokeMethod(about, "reject", Qt::QueuedConnection);
                return true;
            }
        }
        return false;
    });
    driver.AnswerBox(QMessageBox::Ok);
    // The next check's box is destroyed unanswered: that releases its check too.
    driver.Then([](QWidget& modal) {
        if (qobject_cast<QMessageBox*>(&modal) == nullptr) {
            return false;
        }
        modal.deleteLater();
        return true;
    });
    Window().Menu().Action(57664)->trigger();
    ASSERT_TRUE(ProcessUntil(
        [&] { return driver.BoxTexts().size() == 1 && session->Engine().ActiveChecks() == 0; }));
    Window().Panel(0).PollButton().click();
    EXPECT_TRUE(
        ProcessUntil([&] { return driver.Done() && session->Engine().ActiveChecks() == 0; }));
}

// A stop signal while each modal window is up: the program ends, and tells
// main when a send outlived the wait.
TEST_F(WindowTest, TheProgramEndsFromEveryModalWindow) {
    // Takes the connection and never answers.
    LoopbackServer silentSmtp(ServerScript::Only(ServerScript::Action::kNeverRead));
    LoopbackServer site(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
    // The command (0: Del), the window's title or name, whether a send outlives the wait.
    const std::vector<std::tuple<int, QString, bool>> cases = {
        {57664, "About Orvalin", false},  {32771, "Email Setup", false},   {32777, "Log", false},
        {32776, "Logs", false},           {32783, "Tell a friend", false}, {0, "Orvalin", false},
        {32790, "emailTestNotice", true}, {32783, "sendIndicator", true}};
    for (const auto& [command, window, sendOutlives] : cases) {
        SCOPED_TRACE(window.toStdString());
        session.reset();
        store->WriteString("Settings", "SMTP", silentSmtp.HostAndPort());
        store->WriteInt("Settings", "DisableEmails", 0);
        store->WriteString("Settings", "SMTPAlert", "me@example.org");
        store->WriteString("Settings", "SMTPEmail", "me@example.org");
        StoreSite(0, command == 0 ? "http://" + site.HostAndPort() + "/" : "");
        Start();
        session->Engine().shutdownWait = 1s;
        ModalDriver driver;
        if (window == "sendIndicator") {  // Tell a friend's OK
            driver.Then([](QWidget& modal) {
                modal.findChild<QLineEdit*>("toEdit")->setText("friend@example.org");
                QMetaObject::invokeMethod(&modal, "accept", Qt::QueuedConnection);
                return true;
            });
        }
        driver.Then([&](QWidget& modal) {
            if (modal.windowTitle() != window && modal.objectName() != window) {
                return false;
            }
            SendStopSignal();
            return true;
        });
        QTimer::singleShot(0, &Window(), [&] {
            command == 0 ? Window().Panel(0).DelButton().click()
                         : Window().Menu().Action(command)->trigger();
        });
        EXPECT_EQ(RunToTheEnd() == desktop::ProgramEnd::kJobsStillRunning, sendOutlives);
        EXPECT_TRUE(driver.Done());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(store->ReadInt("Settings", "NumOpen", -1), 0);
        // The question ended unanswered: nothing was removed.
        EXPECT_EQ(store->ReadString("Settings", "lastWebsite0", "").empty(), command != 0);
    }
}

TEST(HelpGuide, MainWindowPageFirstThenTheIndexBesideOrUnderThePrefix) {
    TempDir dir;
    const auto bin = dir / "bin";
    std::filesystem::create_directories(bin);
    EXPECT_EQ(desktop::GuidePage(bin), std::filesystem::path());
    const auto installed = dir / "share/doc/orvalin/guide";
    std::filesystem::create_directories(installed);
    std::ofstream(installed / "index.html") << "index";
    EXPECT_EQ(desktop::GuidePage(bin), installed / "index.html");
    std::ofstream(installed / "main-window.html") << "window";
    EXPECT_EQ(desktop::GuidePage(bin), installed / "main-window.html");
    std::filesystem::create_directories(bin / "orvalin-guide");
    std::ofstream(bin / "orvalin-guide/index.html") << "build tree";
    EXPECT_EQ(desktop::GuidePage(bin), bin / "orvalin-guide/index.html");
}

}  // namespace
}  // namespace orvalin::test
