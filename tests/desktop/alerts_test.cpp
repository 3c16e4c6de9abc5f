// The desktop's side of alerts: notices shown as freedesktop notifications by
// a scripted server on a private session bus, their actions run back in the
// program, the "Snooze alerts" menus, and the "Alert settings..." dialog
// driven as a user types into it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <chrono>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

#include "desktop/alerts/snooze_menu.h"
#include "desktop/dbus/desktop_notifications.h"
#include "desktop/dbus/system_hints.h"
#include "desktop/frontend/desktop_frontend.h"
#include "desktop/tray/tray_icon.h"
#include "desktop/window/main_window.h"
#include "engine/monitor_engine.h"
#include "session_fixture.h"
#include "widget_driver.h"
#include "x_session.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

// A dbus-daemon of the test's own and, on it, the scripted notification server.
class NotificationBus {
  public:
    explicit NotificationBus(const std::filesystem::path& dir)
        : dir_(dir), address_("unix:path=" + (dir / "bus").string()) {
        std::filesystem::create_directories(dir);
        bus_ = Child({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                      "--address=" + address_},
                     Environment(), dir / "dbus.log");
        if (!ProcessUntil([&] { return std::filesystem::exists(dir / "bus"); })) {
            throw std::runtime_error("dbus-daemon did not start");
        }
    }

    // (Re)starts the server announcing capabilities; true once it owns its name.
    bool Serve(const std::vector<std::string>& capabilities) {
        server_ = Child();
        std::filesystem::remove(Record());
        std::vector<std::string> argv{"/usr/bin/python3", NOTIFICATION_SERVER_PATH, "serve",
                                      Record().string()};
        argv.insert(argv.end(), capabilities.begin(), capabilities.end());
        server_ = Child(argv, Environment(), dir_ / "server.log");
        return ProcessUntil([&] { return std::filesystem::exists(Record()); });
    }

    // The Notify calls received so far.
    std::vector<QJsonObject> Received() const {
        std::vector<QJsonObject> calls;
        std::ifstream in(Record());
        for (std::string line; std::getline(in, line);) {
            calls.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        }
        return calls;
    }

    // As the user clicking the action key of notification id.
    void Invoke(int id, const std::string& key) {
        Child invoke(
            {"/usr/bin/python3", NOTIFICATION_SERVER_PATH, "invoke", std::to_string(id), key},
            Environment(), dir_ / "invoke.log");
        ProcessUntil([&] { return invoke.Wait(0ms) >= 0; });
    }

    // A signal on the bus, as dbus-send sends it.
    void Signal(const std::string& path, const std::string& member, const std::string& argument) {
        Child send(
            {"/usr/bin/dbus-send", "--bus=" + address_, "--type=signal", path, member, argument},
            Environment(), dir_ / "send.log");
        ProcessUntil([&] { return send.Wait(0ms) >= 0; });
    }

    QDBusConnection Connect() const {
        return QDBusConnection::connectToBus(QString::fromStdString(address_),
                                             QStringLiteral("orvalin-test-session"));
    }

  private:
    std::filesystem::path Record() const { return dir_ / "notifications.jsonl"; }
    std::map<std::string, std::string> Environment() const {
        return {{"PATH", "/usr/bin:/bin"}, {"DBUS_SESSION_BUS_ADDRESS", address_}};
    }

    std::filesystem::path dir_;
    std::string address_;
    Child bus_;
    Child server_;
};

class DesktopAlerts : public SessionTest {
  protected:
    ~DesktopAlerts() override {
        if (session) {
            session->End();
            session.reset();
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("orvalin-test-session"));
    }

    // Waits until the notification server has had count Notify calls.
    std::vector<QJsonObject> WaitForNotifications(NotificationBus& bus, std::size_t count) {
        ProcessUntil([&] { return bus.Received().size() >= count; });
        return bus.Received();
    }

    std::string StoredSnooze() { return Landed().ReadString("Settings", "SnoozeUntil", "unset"); }

    QAction& Entry(int id) { return *session->Window().Menu().Action(id); }
};

QStringList Strings(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        list << item.toString();
    }
    return list;
}

std::string LocalDate(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

TEST_F(DesktopAlerts, NoticesBecomeNotificationsWhoseActionsSnoozeAndOpenTheWindow) {
    NotificationBus bus(dir / "dbus");
    ASSERT_TRUE(bus.Serve({"actions", "body"}));
    sessionBus = [&bus] { return bus.Connect(); };
    Start();
    ASSERT_FALSE(session->Engine().SnoozedUntil());

    session->Front().ShowNotice(
        Notice{NoticeKind::Alert, {1}, "Alert - http://127.0.0.1:9/", "Website unreachable"});
    std::vector<QJsonObject> calls = WaitForNotifications(bus, 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["summary"].toString(), "Alert - http://127.0.0.1:9/");
    EXPECT_EQ(calls[0]["body"].toString(), "Website unreachable");
    EXPECT_EQ(Strings(calls[0]["actions"]),
              QStringList({"open", "Open Orvalin", "check-now", "Check now", "snooze-1h",
                           "Snooze 1 hour"}));
    EXPECT_EQ(calls[0]["hints"].toObject()["urgency"].toInt(), 2);
    EXPECT_EQ(calls[0]["hints"].toObject()["image-data"].toArray()[0].toInt(), 48);

    // "Snooze 1 hour": the snooze ends an hour from now, to the minute, and
    // the menus offer to resume.
    const auto before = std::chrono::system_clock::now();
    bus.Invoke(calls[0]["id"].toInt(), "snooze-1h");
    ASSERT_TRUE(ProcessUntil([&] { return session->Engine().SnoozedUntil().has_value(); }));
    const auto until = *session->Engine().SnoozedUntil();
    EXPECT_GT(until, before + 59min - 1s);
    EXPECT_LE(until, before + 60min + 1min);
    EXPECT_TRUE(std::regex_match(StoredSnooze(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)")));
    EXPECT_TRUE(Entry(32796).isEnabled());
    session->Tray().Snooze().Refresh();
    EXPECT_TRUE(session->Tray().Snooze().ResumeAction()->isEnabled());

    // A recovery is not urgent; "Open Orvalin" brings the hidden window back.
    session->Window().hide();
    session->Front().ShowNotice(
        Notice{NoticeKind::Recovery, {1}, "Recovery - http://127.0.0.1:9/", "Website is back"});
    calls = WaitForNotifications(bus, 2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1]["hints"].toObject()["urgency"].toInt(), 1);
    bus.Invoke(calls[1]["id"].toInt(), "open");
    EXPECT_TRUE(ProcessUntil([&] { return session->Window().isVisible(); }));

    // An action of a notification that is not ours (already closed) does nothing.
    session->Tray().Snooze().ResumeAction()->trigger();
    EXPECT_FALSE(session->Engine().SnoozedUntil());
    EXPECT_EQ(StoredSnooze(), "");
    bus.Invoke(calls[0]["id"].toInt(), "snooze-1h");
    ProcessFor(300ms);
    EXPECT_FALSE(session->Engine().SnoozedUntil());

    // A server without buttons gets the notice without actions.
    ASSERT_TRUE(bus.Serve({"body"}));
    session->Front().ShowNotice(
        Notice{NoticeKind::SlowWarning, {2}, "Warning - http://127.0.0.1:8/", "Slow"});
    calls = WaitForNotifications(bus, 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0]["actions"].toArray().isEmpty());
}

TEST_F(DesktopAlerts, WithoutASessionBusANoticeGoesQuietlyToTheTrayAndTheMenusSnooze) {
    Start();
    QSignalSpy unshown(&session->Notifications(), &desktop::DesktopNotifications::Unshown);
    session->Front().ShowNotice(Notice{NoticeKind::Alert, {0}, "Alert - x", "Down"});
    ASSERT_TRUE(ProcessUntil([&] { return unshown.count() == 1; }));
    EXPECT_EQ(unshown[0][0].value<desktop::DesktopNotice>().summary, "Alert - x");

    // "Until tomorrow 08:00" from the Setup menu, then "Resume alerts".
    EXPECT_FALSE(Entry(32796).isEnabled());
    Entry(32795).trigger();
    const std::time_t tomorrow = std::time(nullptr) + 24 * 3600;
    EXPECT_EQ(StoredSnooze(), LocalDate(tomorrow) + " 08:00");
    EXPECT_TRUE(Entry(32796).isEnabled());
    Entry(32796).trigger();
    EXPECT_EQ(StoredSnooze(), "");
    EXPECT_FALSE(Entry(32796).isEnabled());
}

TEST_F(DesktopAlerts, LogindsResumeAndNetworkManagerComingOnlineAreHintedOnce) {
    NotificationBus bus(dir / "dbus");
    int resumed = 0;
    int networkUp = 0;
    desktop::SystemHints hints([&bus] { return bus.Connect(); });
    hints.onResumed = [&] { ++resumed; };
    hints.onNetworkUp = [&] { ++networkUp; };
    hints.Start();
    // The subscription is in place once a first signal gets through.
    ASSERT_TRUE(ProcessUntil(
        [&] {
            bus.Signal("/org/freedesktop/login1", "org.freedesktop.login1.Manager.PrepareForSleep",
                       "boolean:false");
            return resumed > 0;
        },
        10s));
    ProcessFor(300ms);  // any other probe still on its way
    resumed = 0;
    bus.Signal("/org/freedesktop/login1", "org.freedesktop.login1.Manager.PrepareForSleep",
               "boolean:true");
    bus.Signal("/org/freedesktop/login1", "org.freedesktop.login1.Manager.PrepareForSleep",
               "boolean:false");
    // Connecting, connected, still connected, local only, connected again.
    for (const char* nmState : {"uint32:40", "uint32:70", "uint32:60", "uint32:50", "uint32:70"}) {
        bus.Signal("/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager.StateChanged",
                   nmState);
    }
    ProcessFor(300ms);
    EXPECT_EQ(resumed, 1);
    EXPECT_EQ(networkUp, 2);
}

TEST_F(DesktopAlerts, AlertSettingsAreCheckedAsTypedAndSavedWholeOnOk) {
    store->WriteInt("Settings", "ConfirmFailures", 3);
    store->WriteInt("Settings", "GroupSeconds", 999);  // clamped to 300 as read
    Start();
    ModalDriver driver;
    driver.Then([](QWidget& modal) {
        if (modal.windowTitle() != "Alert settings") {
            return false;
        }
        const QList<QSpinBox*> numbers = modal.findChildren<QSpinBox*>();
        auto number = [&](const char* name) { return modal.findChild<QSpinBox*>(name); };
        QPushButton* ok = nullptr;
        for (QPushButton* button : modal.findChildren<QPushButton*>()) {
            if (button->text() == "OK") {
                ok = button;
            }
        }
        EXPECT_EQ(numbers.size(), 5);
        EXPECT_EQ(number("failuresSpin")->value(), 3);
        EXPECT_EQ(number("secondsSpin")->value(), 20);
        EXPECT_EQ(number("gatherSpin")->value(), 300);
        EXPECT_EQ(number("remindSpin")->text(), "never");

        // A digit that would leave the range is refused.
        QSpinBox* failures = number("failuresSpin");
        failures->selectAll();
        QTest::keyClicks(failures, "11");
        EXPECT_EQ(failures->text(), "1");
        // Below the least, OK waits until the number is complete.
        QSpinBox* seconds = number("secondsSpin");
        seconds->selectAll();
        QTest::keyClicks(seconds, "3");
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClicks(seconds, "0");
        EXPECT_TRUE(ok->isEnabled());
        QSpinBox* remind = number("remindSpin");
        remind->selectAll();
        QTest::keyClicks(remind, "12");
        modal.findChild<QCheckBox*>("slowOnceBox")->setChecked(true);
        modal.findChild<QCheckBox*>("desktopBox")->setChecked(false);
        QTest::mouseClick(ok, Qt::LeftButton);
        return true;
    });
    Entry(32792).trigger();
    ASSERT_TRUE(driver.Done());

    SettingsStore& saved = Landed();
    EXPECT_EQ(saved.ReadInt("Settings", "ConfirmFailures", -1), 1);
    EXPECT_EQ(saved.ReadInt("Settings", "ConfirmRecoveries", -1), 1);
    EXPECT_EQ(saved.ReadInt("Settings", "ConfirmSeconds", -1), 30);
    EXPECT_EQ(saved.ReadInt("Settings", "SlowWarnings", -1), 1);
    EXPECT_EQ(saved.ReadInt("Settings", "RemindHours", -1), 12);
    EXPECT_EQ(saved.ReadInt("Settings", "GroupSeconds", -1), 300);
    EXPECT_EQ(saved.ReadInt("Settings", "DesktopNotices", -1), 0);
    EXPECT_EQ(session->Engine().Alerts().confirmSeconds, 30);
}

}  // namespace
}  // namespace orvalin::test
