// The real orvalin on a private X display, read through the accessibility
// bus and screenshots: an address typed into a panel and polled with Enter,
// the status colour, the graph's bar, the panel texts, the tray tooltip, the
// log lines and an orderly exit; and, without a notification area, Hide
// minimising the window.
#include <gtest/gtest.h>

#include <signal.h>

#include <QImage>
#include <QRect>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "settings/settings_store.h"
#include "support/loopback_server.h"
#include "support/smtp_servers.h"
#include "x_session.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

struct Widget {
    int depth = 0;
    std::string role;
    std::string name;
    std::string description;
    int x = 0, y = 0, width = 0, height = 0;
    int CentreX() const { return x + width / 2; }
    int CentreY() const { return y + height / 2; }
};

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<Widget> ParseTree(const std::string& dump) {
    std::vector<Widget> widgets;
    std::istringstream lines(dump);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos;
             start = tab + 1) {
            fields.push_back(line.substr(start, tab - start));
        }
        fields.push_back(line.substr(start));
        if (fields.size() != 8) {
            continue;
        }
        Widget w;
        w.depth = std::stoi(fields[0]);
        w.role = fields[1];
        w.name = Unescape(fields[2]);
        w.description = Unescape(fields[3]);
        w.x = std::stoi(fields[4]);
        w.y = std::stoi(fields[5]);
        w.width = std::stoi(fields[6]);
        w.height = std::stoi(fields[7]);
        widgets.push_back(w);
    }
    return widgets;
}

class DesktopEndToEnd : public testing::Test {
  protected:
    void Launch(XSessionOptions options, const std::function<void(SettingsStore&)>& prepare = {}) {
        x = std::make_unique<XSession>(options);
        store =
            std::make_shared<SettingsStore>(x->Home() / "config/Quenbridge/Orvalin/settings.db");
        // A mail server is set, so the first tick asks nothing; nothing is sent.
        store->WriteString("Settings", "SMTP", "127.0.0.1:9");
        store->WriteInt("Settings", "DisableEmails", 1);
        if (prepare) {
            prepare(*store);
        }
        program = x->Start({ORVALIN_DESKTOP_PATH}, "orvalin.log");
        ASSERT_TRUE(WaitFor([&] { return Find("frame", "Orvalin") != nullptr; }, 20s))
            << ReadFileBytes(x->Home() / "../orvalin.log");
    }

    std::vector<Widget> Tree() {
        widgets = ParseTree(x->Run({"/usr/bin/python3", ATSPI_TREE_PATH, "dump", "Orvalin"}));
        return widgets;
    }
    const Widget* Find(const std::string& role, const std::string& name) {
        Tree();
        for (const Widget& w : widgets) {
            if (w.role == role && w.name == name) {
                return &w;
            }
        }
        return nullptr;
    }
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(200ms);
        }
        return true;
    }
    void Press(const std::string& name) {
        int status = -1;
        x->Run({"/usr/bin/python3", ATSPI_TREE_PATH, "press", "Orvalin", name}, &status);
        ASSERT_EQ(status, 0) << name;
    }
    void TypeAndEnter(const std::string& box, const std::string& text) {
        const Widget* field = Find("text", box);
        ASSERT_NE(field, nullptr) << box;
        x->Run({"/usr/bin/xdotool", "mousemove", std::to_string(field->CentreX()),
                std::to_string(field->CentreY()), "click", "1"});
        x->Run({"/usr/bin/xdotool", "type", "--delay", "5", text});
        x->Run({"/usr/bin/xdotool", "key", "Return"});
    }
    QImage Screenshot() {
        const auto file = x->Home() / "screen.png";
        x->Run({"/usr/bin/import", "-window", "root", file.string()});
        return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
    }
    // The tray icon's centre, when it is in the notification area.
    std::optional<QPoint> TrayIcon() {
        std::smatch icon;
        const std::string tree = x->Run({"/usr/bin/xwininfo", "-root", "-tree"});
        if (!std::regex_search(tree, icon,
                               std::regex("\\(\"orvalin\" \"Orvalin\"\\)\\s+(\\d\\d?)x(\\d\\d?)"
                                          "\\+\\d+\\+\\d+\\s+\\+(\\d+)\\+(\\d+)"))) {
            return std::nullopt;
        }
        return QPoint(std::stoi(icon[3]) + std::stoi(icon[1]) / 2,
                      std::stoi(icon[4]) + std::stoi(icon[2]) / 2);
    }
    void DoubleClick(QPoint at) {
        x->Run({"/usr/bin/xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()),
                "click", "--repeat", "2", "--delay", "80", "1"});
    }
    // A window's place and size on the screen, without its frame.
    QRect Geometry(const std::string& window) {
        const std::string info = x->Run({"/usr/bin/xwininfo", "-id", window});
        const auto field = [&](const char* name) {
            std::smatch value;
            return std::regex_search(info, value, std::regex(std::string(name) + ":\\s+(-?\\d+)"))
                       ? std::stoi(value[1])
                       : -1;
        };
        return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                     field("Height"));
    }
    bool IsViewable(const std::string& window) {
        return x->Run({"/usr/bin/xwininfo", "-id", window}).find("IsViewable") != std::string::npos;
    }
    // The main window's X id: the largest window of the program.
    std::string MainWindowId() {
        std::istringstream ids(x->Run({"/usr/bin/xdotool", "search", "--class", "orvalin"}));
        std::string id, best;
        int bestArea = 0;
        while (ids >> id) {
            const std::string geometry = x->Run({"/usr/bin/xdotool", "getwindowgeometry", id});
            std::smatch size;
            if (std::regex_search(geometry, size, std::regex("Geometry: (\\d+)x(\\d+)"))) {
                const int area = std::stoi(size[1]) * std::stoi(size[2]);
                if (area > bestArea) {
                    bestArea = area;
                    best = id;
                }
            }
        }
        return best;
    }

    std::unique_ptr<XSession> x;
    std::shared_ptr<SettingsStore> store;
    Child program;
    std::vector<Widget> widgets;
};

std::string Describe(const std::vector<Widget>& widgets) {
    std::string text;
    for (const Widget& w : widgets) {
        text += std::string(static_cast<std::size_t>(w.depth), ' ') + w.role + " '" + w.name +
                "' '" + w.description + "' " + std::to_string(w.x) + "," + std::to_string(w.y) +
                " " + std::to_string(w.width) + "x" + std::to_string(w.height) + "\n";
    }
    return text;
}

// The widget n places after the first one matching pred, in tree order.
const Widget* After(const std::vector<Widget>& widgets,
                    const std::function<bool(const Widget&)>& pred, std::size_t n) {
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        if (pred(widgets[i])) {
            return i + n < widgets.size() ? &widgets[i + n] : nullptr;
        }
    }
    return nullptr;
}

TEST_F(DesktopEndToEnd, PollsTypedAddressesAndShowsTheResultsEverywhere) {
    // Answers after 40 ms, so the check measures a time and draws a bar (a
    // check under 1 ms shows neither).
    LoopbackServer server(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\nfine", 40ms));
    RefusingPort refusing;
    const std::string well = "http://" + server.HostAndPort() + "/";
    const std::string failing = "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/";
    std::filesystem::path metrics;
    Launch({.notificationArea = true, .windowManager = false}, [&](SettingsStore& settings) {
        metrics = settings.Path().parent_path() / "orvalin.prom";
        settings.WriteString("Settings", "MetricsFile", metrics.string());
    });

    TypeAndEnter("Website 1", well);
    TypeAndEnter("Website 2", failing);
    const auto statusIs = [](const char* meaning) {
        return [meaning](const Widget& w) { return w.role == "label" && w.description == meaning; };
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            Tree();
            return After(widgets, statusIs("well"), 0) && After(widgets, statusIs("failing"), 0);
        },
        20s));

    // Panel texts: "Last access:" and, two places on, best and worst.
    const std::regex timed("\\d+ms on \\d\\d/\\d\\d/\\d{4} at \\d\\d:\\d\\d:\\d\\d");
    const Widget last = *After(widgets, statusIs("well"), 0);
    EXPECT_TRUE(std::regex_match(last.name, timed)) << Describe(widgets);
    EXPECT_EQ(After(widgets, statusIs("well"), 2)->name, last.name);  // best
    EXPECT_EQ(After(widgets, statusIs("well"), 4)->name, last.name);  // worst
    const Widget lastFailed = *After(widgets, statusIs("failing"), 0);
    EXPECT_TRUE(
        std::regex_match(lastFailed.name, std::regex("unavailable on \\d\\d/\\d\\d/\\d{4} at .*")))
        << lastFailed.name;
    EXPECT_FALSE(After(widgets, statusIs("failing"), 6)->name.empty());  // last alert
    // What the user sees: the label's colour and the newest bar of each graph.
    std::vector<Widget> graphs;
    for (const Widget& w : widgets) {
        if (w.name == "Response times") {
            graphs.push_back(w);
        }
    }
    ASSERT_EQ(graphs.size(), 4u);
    const QImage screen = Screenshot();
    EXPECT_NE(Find("panel", well), nullptr);  // the caption is the address now
    const auto at = [&](int px, int py) { return screen.pixelColor(px, py); };
    EXPECT_EQ(at(last.x + last.width - 3, last.CentreY()), QColor(0, 255, 0));
    EXPECT_EQ(at(lastFailed.x + lastFailed.width - 3, lastFailed.CentreY()), QColor(255, 0, 0));
    const int newestBar = graphs[0].x + graphs[0].width - 50 - 2;
    const int bottom = graphs[0].y + graphs[0].height - 1;
    EXPECT_EQ(at(newestBar, bottom), QColor(0, 252, 0));
    EXPECT_EQ(at(newestBar + 1, bottom), QColor(0, 252, 0));
    EXPECT_EQ(at(newestBar - 1, bottom), QColor(0, 0, 0));  // the gap before it
    EXPECT_EQ(at(graphs[1].x + graphs[1].width - 52, graphs[1].y + graphs[1].height - 1),
              QColor(0, 0, 0));  // a failed check draws no bar

    // The tray icon's tooltip sums up both sites.
    const std::optional<QPoint> icon = TrayIcon();
    ASSERT_TRUE(icon) << x->Run({"/usr/bin/xwininfo", "-root", "-tree"});
    const int iconX = icon->x();
    const int iconY = icon->y();
    ASSERT_TRUE(WaitFor(
        [&] {
            x->Run({"/usr/bin/xdotool", "mousemove", std::to_string(iconX + 1),
                    std::to_string(iconY), "sleep", "0.1", "mousemove", std::to_string(iconX),
                    std::to_string(iconY)});
            std::this_thread::sleep_for(1200ms);
            const Widget* tip = Find("tool tip", "Orvalin\nAt least one website in unreachable");
            return tip != nullptr;
        },
        15s));

    // The log lines of both checks.
    const std::string access = ReadFileBytes(x->Home() / "state/orvalin/access.log");
    const std::string errors = ReadFileBytes(x->Home() / "state/orvalin/error.log");
    EXPECT_TRUE(std::regex_search(access, std::regex("> SUCCESS " + well + " \\d+ms\r?\n")))
        << access;
    EXPECT_NE(errors.find("Website unreachable: " + failing), std::string::npos) << errors;

    // The metrics file the MetricsFile setting names holds both sites.
    const std::string exported = ReadFileBytes(metrics);
    EXPECT_NE(exported.find("orvalin_site_up{slot=\"1\",url=\"" + well + "\"} 1\n"),
              std::string::npos)
        << exported;
    EXPECT_NE(exported.find("orvalin_site_state{slot=\"2\",url=\"" + failing + "\"} 2\n"),
              std::string::npos)
        << exported;

    // Hide takes the window off the screen; a double click on the icon brings it back.
    const std::string window = MainWindowId();
    Press("Hide");
    EXPECT_TRUE(WaitFor(
        [&] {
            return x->Run({"/usr/bin/xwininfo", "-id", window}).find("IsUnMapped") !=
                   std::string::npos;
        },
        5s));
    DoubleClick(*icon);
    EXPECT_TRUE(WaitFor([&] { return IsViewable(window); }, 5s));

    // ESC ends the program in order.
    x->Run({"/usr/bin/xdotool", "windowfocus", "--sync", window, "key", "Escape"});
    EXPECT_EQ(program.Wait(20s), 0);
    EXPECT_EQ(store->ReadInt("Settings", "NumOpen", -1), 0);
    EXPECT_NE(store->ReadInt("Settings", "LocX", -32), -32);
    EXPECT_EQ(store->ReadString("Settings", "lastWebsite0", ""), well);
    EXPECT_TRUE(std::filesystem::exists(x->Home() / "config/autostart/orvalin.desktop"));
}

TEST_F(DesktopEndToEnd, WithoutANotificationAreaHideMinimises) {
    Launch({.notificationArea = false, .windowManager = true});
    const std::string window = MainWindowId();
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor(
        [&] {
            return x->Run({"/usr/bin/xprop", "-id", window, "WM_STATE"}).find("Normal") !=
                   std::string::npos;
        },
        10s));
    Press("Hide");
    // Iconic: on the taskbar or as an icon, never withdrawn out of reach.
    EXPECT_TRUE(WaitFor(
        [&] {
            return x->Run({"/usr/bin/xprop", "-id", window, "WM_STATE"}).find("Iconic") !=
                   std::string::npos;
        },
        10s))
        << x->Run({"/usr/bin/xprop", "-id", window, "WM_STATE"});
    // Screen readers still name it.
    EXPECT_NE(Find("frame", "Orvalin"), nullptr) << Describe(widgets);
    Press("Exit\tESC");
    EXPECT_EQ(program.Wait(20s), 0);
}

TEST_F(DesktopEndToEnd, KeepsItsPlaceThroughHideAndOpenAndGrowsLeftwardsAtTheEdge) {
    // A first run: no stored place, the window manager picks one.
    Launch({.notificationArea = true, .windowManager = true});
    const std::string window = MainWindowId();
    ASSERT_TRUE(WaitFor([&] { return IsViewable(window); }, 10s));
    const QRect placed = Geometry(window);
    const std::optional<QPoint> icon = TrayIcon();
    ASSERT_TRUE(icon);
    Press("Hide");
    ASSERT_TRUE(WaitFor([&] { return !IsViewable(window); }, 5s));
    DoubleClick(*icon);
    ASSERT_TRUE(WaitFor([&] { return IsViewable(window); }, 5s));
    EXPECT_TRUE(WaitFor([&] { return Geometry(window) == placed; }, 2s))
        << Geometry(window).x() << "," << Geometry(window).y();

    // Narrow, 600 pixels from the desktop's right edge, then wide again: the
    // window keeps its right edge and grows to the left, Poll and Del in view.
    Press("Show Details");
    ASSERT_TRUE(WaitFor([&] { return Geometry(window).width() < placed.width(); }, 5s));
    x->Run({"/usr/bin/xdotool", "windowmove", "--sync", window, "680", "100"});
    ASSERT_TRUE(WaitFor([&] { return Geometry(window).x() == 680; }, 5s)) << Geometry(window).x();
    const int rightEdge = Geometry(window).right();
    Press("Show Details");
    ASSERT_TRUE(WaitFor([&] { return Geometry(window).width() == placed.width(); }, 5s));
    EXPECT_TRUE(WaitFor([&] { return Geometry(window).right() == rightEdge; }, 2s))
        << Geometry(window).x() << " + " << Geometry(window).width();
    const Widget* del = Find("push button", "Del");
    ASSERT_NE(del, nullptr);
    EXPECT_LE(del->x + del->width, 1280);
    Press("Exit\tESC");
    EXPECT_EQ(program.Wait(20s), 0);
}

TEST_F(DesktopEndToEnd, ASignalDuringTheEmailTestEndsTheProgramAndTheIconGoesFirst) {
    // A mail server that takes the connection, says nothing for 4 s and
    // closes: the test's send holds the exit wait that long.
    ServerScript silent;
    silent.requestWait = 4s;
    LoopbackServer smtp(silent);
    Launch({.notificationArea = true, .windowManager = false}, [&](SettingsStore& settings) {
        settings.WriteString("Settings", "SMTP", smtp.HostAndPort());
        settings.WriteInt("Settings", "DisableEmails", 0);
        settings.WriteString("Settings", "SMTPAlert", "me@example.org");
    });
    ASSERT_TRUE(WaitFor([&] { return TrayIcon().has_value(); }, 10s));
    // The command's modal loop holds the accessibility call: pressed aside.
    Child press =
        x->Start({"/usr/bin/python3", ATSPI_TREE_PATH, "press", "Orvalin", "Test Email Settings"},
                 "press.log");
    ASSERT_TRUE(WaitFor([&] { return Find("label", "Sending test email\u2026") != nullptr; }, 10s));

    ::kill(program.Pid(), SIGTERM);
    EXPECT_TRUE(WaitFor([&] { return !TrayIcon().has_value(); }, 2s));
    EXPECT_EQ(program.Wait(0ms), -1);  // still waiting for the send
    EXPECT_EQ(program.Wait(11s), 0);
    EXPECT_EQ(store->ReadInt("Settings", "NumOpen", -1), 0);
}

}  // namespace
}  // namespace orvalin::test
