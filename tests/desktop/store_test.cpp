// The window over a settings store that another program locks, that cannot
// be read, or that another program changes while the window is up.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "desktop/controls/interval_box.h"
#include "desktop/controls/prompt_edit.h"
#include "desktop/controls/status_label.h"
#include "desktop/dialogs/email_setup_dialog.h"
#include "desktop/panel/site_panel.h"
#include "desktop/window/main_window.h"
#include "engine/monitor_engine.h"
#include "session_fixture.h"
#include "settings/store_fixtures.h"
#include "support/smtp_servers.h"
#include "widget_driver.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;
using desktop::SitePanel;
using Clock = std::chrono::steady_clock;

class StoreWindowTest : public SessionTest {
  protected:
    std::filesystem::path File() const { return dir / "settings.db"; }
    SitePanel& Panel(int slot) { return session->Window().Panel(slot); }
    std::string Site(const char* path) {
        return "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/" + path;
    }
    RefusingPort refusing;
};

TEST_F(StoreWindowTest, AnArrowClickUnderAnotherProgramsLockLandsLaterAndSurvivesARestart) {
    store->WriteInt("Settings", "Interval1", 5);
    Start();
    ExclusiveLockHolder lock(File(), true);  // a sqlite3 shell inside BEGIN IMMEDIATE
    ASSERT_TRUE(lock.Holding());

    const auto start = Clock::now();
    QTest::mouseClick(Panel(1).Interval().DownArrow(), Qt::LeftButton);
    EXPECT_LT(Clock::now() - start, 2s);  // the window did not wait for the lock
    EXPECT_EQ(Panel(1).IntervalEdit().text(), "4");
    ProcessFor(500ms);
    EXPECT_EQ(store->ReadInt("Settings", "Interval1", 0), 5);

    lock.Release();
    EXPECT_TRUE(ProcessUntil([&] { return store->ReadInt("Settings", "Interval1", 0) == 4; }));
    session.reset();
    Start();
    EXPECT_EQ(Panel(1).IntervalEdit().text(), "4");
}

TEST_F(StoreWindowTest, WhatTheExitCannotStoreUnderALockComesBackAtTheNextStart) {
    store->WriteInt("Settings", "Interval2", 20);
    Start();
    ExclusiveLockHolder lock(File(), true);
    ASSERT_TRUE(lock.Holding());
    QTest::mouseClick(Panel(2).Interval().UpArrow(), Qt::LeftButton);

    const QPoint corner = session->Window().OuterPosition();
    const auto start = Clock::now();
    session->End();
    EXPECT_LT(Clock::now() - start, 3s);
    session.reset();
    lock.Release();
    EXPECT_EQ(store->ReadInt("Settings", "Interval2", 0), 20);  // kept aside, not written

    Start();
    EXPECT_EQ(Panel(2).IntervalEdit().text(), "21");
    EXPECT_EQ(Landed().ReadInt("Settings", "Interval2", 0), 21);
    EXPECT_EQ(Landed().ReadInt("Settings", "LocX", 0), corner.x());
    EXPECT_EQ(Landed().ReadInt("Settings", "NumOpen", -1), 1);
}

TEST_F(StoreWindowTest, ChangesAnotherProgramCommitsShowInThePanelsAndANewSiteIsCheckedAtOnce) {
    StoreSite(0, Site("zero"));
    Start();
    ASSERT_TRUE(ProcessUntil([&] { return session->Engine().HistorySize(0) == 1; }));

    // As orvalin-settings site 2 ADDRESS 9 1234, then remove-site 1.
    ASSERT_TRUE(store->Write(SettingsBatch()
                                 .SetString("Settings", "lastWebsite1", Site("one"))
                                 .SetString("Settings", "lastWebsiteTitle1", Site("one"))
                                 .SetInt("Settings", "Interval1", 9)
                                 .SetInt("Settings", "Warn1", 1234)));
    ASSERT_TRUE(
        ProcessUntil([&] { return Panel(1).title() == QString::fromStdString(Site("one")); }));
    EXPECT_EQ(Panel(1).AddressBox().text().toStdString(), Site("one"));
    EXPECT_EQ(Panel(1).IntervalEdit().text(), "9");
    EXPECT_EQ(Panel(1).WarningBox().text(), "1234");
    EXPECT_TRUE(ProcessUntil([&] { return session->Engine().HistorySize(1) == 1; }, 5s));

    ASSERT_TRUE(store->Write(SettingsBatch()
                                 .SetString("Settings", "lastWebsite0", "")
                                 .SetString("Settings", "lastWebsiteTitle0", "")));
    const bool removed = ProcessUntil([&] { return Panel(0).title() == "Website 1"; });
    fprintf(stderr, "monitored %d title %s box %s\n", session->Engine().IsMonitored(0),
            Panel(0).title().toStdString().c_str(),
            Panel(0).AddressBox().text().toStdString().c_str());
    ASSERT_TRUE(removed);
    EXPECT_FALSE(session->Engine().IsMonitored(0));
    EXPECT_EQ(Panel(0).LastAccess().text(), "");
    EXPECT_EQ(Landed().ReadString("Settings", "lastWebsite0", "?"), "");
}

enum class Problem { kDamaged, kLocked, kReadOnlyFolder };

constexpr uid_t kNobody = 65534;

void ChownTree(const std::filesystem::path& top, uid_t user) {
    ::chown(top.c_str(), user, user);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        ::lchown(entry.path().c_str(), user, user);
    }
}

// File access of this thread (and the threads it starts) as another user.
class ScopedFileUser {
  public:
    explicit ScopedFileUser(uid_t user) {
        ::setfsgid(user);
        ::setfsuid(user);
    }
    ~ScopedFileUser() {
        ::setfsuid(0);
        ::setfsgid(0);
    }
    ScopedFileUser(const ScopedFileUser&) = delete;
    ScopedFileUser& operator=(const ScopedFileUser&) = delete;
};

class UnreadableStoreTest : public StoreWindowTest, public testing::WithParamInterface<Problem> {};

TEST_P(UnreadableStoreTest, TheUserIsToldWhyAndNoFirstRunSetupIsOffered) {
    StoreSite(0, Site("kept"));
    store.reset();  // the test's own connections close
    std::string problem;
    std::unique_ptr<ExclusiveLockHolder> lock;
    std::unique_ptr<ScopedFileUser> user;
    switch (GetParam()) {
        case Problem::kDamaged:
            std::filesystem::remove(File().string() + "-wal");
            std::filesystem::remove(File().string() + "-shm");
            std::ofstream(File(), std::ios::trunc) << "not a database, but sixteen bytes or more";
            problem = "file is not a database";
            break;
        case Problem::kLocked:
            lock = std::make_unique<ExclusiveLockHolder>(File());
            ASSERT_TRUE(lock->Holding());
            problem = "database is locked";
            break;
        case Problem::kReadOnlyFolder:
            // The store's folder takes no new file, so the write-ahead log's
            // index cannot be made. Root passes any permission, so the test
            // acts as another user on files that user owns.
            std::filesystem::remove(File().string() + "-wal");
            std::filesystem::remove(File().string() + "-shm");
            std::filesystem::create_directories(AutostartFile().parent_path());
            std::filesystem::create_directories(dir / "state");
            if (::geteuid() == 0) {
                ChownTree(dir.Path(), kNobody);
                user = std::make_unique<ScopedFileUser>(kNobody);
            }
            ::chmod(dir.Path().c_str(), 0500);
            problem = "the folder or the file is read-only";
            break;
    }
    const std::string before = ReadFileBytes(File());

    int setupsOffered = 0;
    QTimer closeSetups;
    QObject::connect(&closeSetups, &QTimer::timeout, [&] {
        if (auto* setup =
                qobject_cast<desktop::EmailSetupDialog*>(QApplication::activeModalWidget())) {
            ++setupsOffered;
            setup->reject();
        }
    });
    closeSetups.start(20);
    ModalDriver driver;
    driver.AnswerBox(QMessageBox::Ok);
    const auto start = Clock::now();
    Start();
    EXPECT_LT(Clock::now() - start, 5s);
    ASSERT_TRUE(ProcessUntil([&] { return driver.Done(); }));
    EXPECT_EQ(driver.BoxTexts().front().toStdString(),
              "The settings cannot be read from " + File().string() + ": " + problem +
                  ".\n\nOrvalin runs with its default settings and takes over the stored ones as "
                  "soon as they can be read. What you change meanwhile is kept and written once "
                  "that is possible.");
    ProcessFor(1s);  // the first tick of every panel has come
    EXPECT_EQ(setupsOffered, 0);
    EXPECT_EQ(Panel(0).title(), "Website 1");

    EXPECT_EQ(ReadFileBytes(File()), before);  // never written over

    // Once the store can be read again, what it holds is taken over.
    switch (GetParam()) {
        case Problem::kDamaged: {
            {
                SettingsStore good(dir / "good.db");
                good.Write(SettingsBatch()
                               .SetString("Settings", "lastWebsite0", Site("kept"))
                               .SetString("Settings", "lastWebsiteTitle0", Site("kept")));
            }
            std::filesystem::rename(dir / "good.db", File());
            break;
        }
        case Problem::kLocked:
            lock->Release();
            break;
        case Problem::kReadOnlyFolder:
            ::chmod(dir.Path().c_str(), 0700);
            break;
    }
    EXPECT_TRUE(
        ProcessUntil([&] { return Panel(0).title() == QString::fromStdString(Site("kept")); }));
    session->End();
    user.reset();
    ::chmod(dir.Path().c_str(), 0700);
}

INSTANTIATE_TEST_SUITE_P(Problems, UnreadableStoreTest,
                         testing::Values(Problem::kDamaged, Problem::kLocked,
                                         Problem::kReadOnlyFolder),
                         [](const testing::TestParamInfo<Problem>& problem) {
                             switch (problem.param) {
                                 case Problem::kDamaged:
                                     return "Damaged";
                                 case Problem::kLocked:
                                     return "Locked";
                                 default:
                                     return "ReadOnlyFolder";
                             }
                         });

}  // namespace
}  // namespace orvalin::test
