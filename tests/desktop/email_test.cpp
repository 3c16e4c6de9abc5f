// The "Email Setup" dialog and the email test: fields that follow the alert
// address, the checks on OK, the save through the engine, and the two test
// messages sent to a real SMTP server while the window keeps painting.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <set>

#include "desktop/control_id.h"
#include "desktop/dialogs/email_setup_dialog.h"
#include "desktop/window/main_window.h"
#include "engine/monitor_engine.h"
#include "session_fixture.h"
#include "support/smtp_servers.h"
#include "widget_driver.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;
using desktop::EmailSetupDialog;

struct RecordingBoxes : IMessageBox {
    void ShowWarning(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

class EmailDialog : public testing::Test {
  protected:
    void Open(const MailSettings& settings) {
        dialog = std::make_unique<EmailSetupDialog>(settings, boxes);
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    QLineEdit& Field(int id) { return dialog->Field(id); }
    void Focus(QWidget& widget) {
        widget.setFocus();
        ProcessUntil([&] { return widget.hasFocus(); });
    }
    void PressOk() {
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == "OK") {
                QTest::mouseClick(button, Qt::LeftButton);
            }
        }
    }

    RecordingBoxes boxes;
    std::unique_ptr<EmailSetupDialog> dialog;
};

TEST_F(EmailDialog, RecoveryAndReturnFollowTheAlertAddressUntilTouched) {
    Open(MailSettings{});
    Focus(Field(1006));
    QTest::keyClicks(&Field(1006), "me@example.org");
    EXPECT_EQ(Field(1007).text(), "me@example.org");
    EXPECT_EQ(Field(1005).text(), "me@example.org");

    Focus(Field(1007));
    Field(1007).setText("ops@example.org");
    Focus(Field(1006));
    QTest::keyClicks(&Field(1006), "x");
    EXPECT_EQ(Field(1007).text(), "ops@example.org");
    EXPECT_EQ(Field(1005).text(), "me@example.orgx");
}

TEST_F(EmailDialog, StoredAddressesNeverFollowAndAuthenticationEnablesItsControls) {
    MailSettings stored;
    stored.recoveryRecipient = "ops@example.org";
    stored.senderEmail = "monitor@example.org";
    stored.alertRecipient = "me@example.org";
    Open(stored);
    EXPECT_EQ(Field(1006).text(), "me@example.org");
    QTest::keyClicks(&Field(1006), "x");
    EXPECT_EQ(Field(1007).text(), "ops@example.org");
    EXPECT_EQ(Field(1005).text(), "monitor@example.org");

    auto* check = desktop::FindControl<QCheckBox>(*dialog, 1113);
    ASSERT_NE(check, nullptr);
    const auto accountEnabled = [&] {
        return Field(1003).isEnabled() && Field(1004).isEnabled() &&
               desktop::FindControl<QLabel>(*dialog, 1114)->isEnabled() &&
               desktop::FindControl<QLabel>(*dialog, 1115)->isEnabled();
    };
    EXPECT_FALSE(Field(1003).isEnabled() || Field(1004).isEnabled());
    check->click();
    EXPECT_TRUE(accountEnabled());
    EXPECT_EQ(Field(1004).echoMode(), QLineEdit::Password);
    EXPECT_FALSE(Field(1008).isVisible());
}

// Each label leads to its field, by its key letter too; the hidden sender
// name is named and never takes the focus.
TEST_F(EmailDialog, EveryLabelReachesItsFieldByItsKeyLetter) {
    MailSettings stored;
    stored.authenticate = true;
    Open(stored);
    const std::vector<std::pair<QString, int>> labels = {{"Alert recipient email:", 1006},
                                                         {"Recovery recipient email:", 1007},
                                                         {"Return email address:", 1005},
                                                         {"Outgoing Server (SMTP):", 1002},
                                                         {"Username:", 1003},
                                                         {"Password:", 1004}};
    std::set<QString> letters{KeyLetter(desktop::FindControl<QCheckBox>(*dialog, 1113)->text())};
    for (const auto& [words, id] : labels) {
        SCOPED_TRACE(words.toStdString());
        QLabel* label = nullptr;
        for (QLabel* candidate : dialog->findChildren<QLabel*>()) {
            label = QString(candidate->text()).remove('&') == words ? candidate : label;
        }
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->buddy(), &Field(id));
        const QString letter = KeyLetter(label->text());
        ASSERT_FALSE(letter.isEmpty());
        EXPECT_TRUE(letters.insert(letter).second);
        QTest::keySequence(dialog.get(), QKeySequence(letter));
        EXPECT_TRUE(ProcessUntil([&] { return Field(id).hasFocus(); }));
    }
    EXPECT_EQ(Field(1008).accessibleName(), "Sender name");
    EXPECT_EQ(Field(1008).focusPolicy(), Qt::NoFocus);
}

TEST_F(EmailDialog, OkChecksTheFieldsInOrderTrimsThemAndNamesTheSender) {
    MailSettings stored;
    stored.recoveryRecipient = "ops@example.org";
    stored.senderEmail = "monitor@example.org";
    stored.senderName = "  ";
    Open(stored);
    Field(1006).setText("   ");
    PressOk();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Please enter an email address for the recipient of Orvalin alerts.");
    EXPECT_EQ(Field(1006).text(), "");
    EXPECT_TRUE(Field(1006).hasFocus());

    Field(1006).setText(" me@example.org ");
    Field(1007).setText(" ");
    PressOk();
    EXPECT_EQ(boxes.texts.back(),
              "Please enter an email address for the recipient of Orvalin recovery notices.");
    EXPECT_EQ(Field(1006).text(), "me@example.org");
    EXPECT_EQ(Field(1007).text(), "");
    EXPECT_TRUE(Field(1007).hasFocus());

    Field(1007).setText("ops@example.org");
    Field(1005).setText("  ");
    PressOk();
    EXPECT_EQ(boxes.texts.back(),
              "Please enter a return email address in case some notices are undeliverable.");
    EXPECT_TRUE(Field(1005).hasFocus());
    EXPECT_EQ(Field(1008).text(), "Orvalin");  // filled before the return address is checked

    Field(1005).setText("monitor@example.org");
    PressOk();
    EXPECT_EQ(boxes.texts.back(),
              "Please enter the host name or IP of your SMTP server, if you do not know it, "
              "consult your system administrator.");
    EXPECT_TRUE(Field(1002).hasFocus());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(boxes.texts.size(), 4u);

    Field(1002).setText(" mail.example.org ");
    Field(1003).setText("user");  // kept although authentication is off
    Field(1004).setText("secret");
    PressOk();
    EXPECT_EQ(boxes.texts.size(), 4u);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    const MailSettings result = dialog->Result();
    EXPECT_EQ(result.alertRecipient, "me@example.org");
    EXPECT_EQ(result.recoveryRecipient, "ops@example.org");
    EXPECT_EQ(result.senderEmail, "monitor@example.org");
    EXPECT_EQ(result.senderName, "Orvalin");
    EXPECT_EQ(result.server, "mail.example.org");
    EXPECT_FALSE(result.authenticate);
    EXPECT_EQ(result.username, "user");
    EXPECT_EQ(result.password, "secret");
}

TEST_F(EmailDialog, TrimmingTheAlertAddressOnOkStillFillsUntouchedFields) {
    Open(MailSettings{});
    Field(1006).setText(" me@example.org ");
    Field(1007).clear();
    Field(1005).clear();
    Field(1002).setText("mail.example.org");
    PressOk();
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_EQ(dialog->Result().recoveryRecipient, "me@example.org");
    EXPECT_EQ(dialog->Result().senderEmail, "me@example.org");
}

// Records every key written to the store from now on, in order, through a
// trigger on the store's table.
void RecordWrites(const std::filesystem::path& db) {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    // The running program's writer and watcher may hold the lock a moment.
    sqlite3_busy_timeout(handle, 5000);
    ASSERT_EQ(sqlite3_exec(handle,
                           "CREATE TABLE write_order (key TEXT);"
                           "CREATE TRIGGER record_write AFTER INSERT ON setting "
                           "BEGIN INSERT INTO write_order VALUES (NEW.key); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);
}

std::vector<std::string> KeysInWriteOrder(const std::filesystem::path& db) {
    sqlite3* handle = nullptr;
    std::vector<std::string> keys;
    if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(handle, "SELECT key FROM write_order ORDER BY rowid", -1, &query,
                           nullptr);
        while (query != nullptr && sqlite3_step(query) == SQLITE_ROW) {
            keys.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(handle);
    return keys;
}

class EmailCommand : public SessionTest {};

TEST_F(EmailCommand, SavesInOrderRecommendsTheTestAndSendsBothTestMessages) {
    SmtpSink sink;
    store->WriteString("Settings", "SMTP", "");
    store->WriteInt("Settings", "DisableEmails", 0);
    Start();
    desktop::MainWindow& window = session->Window();

    ModalDriver driver;
    driver.Then([&](QWidget& modal) {
        auto* setup = qobject_cast<EmailSetupDialog*>(&modal);
        if (setup == nullptr) {
            return false;
        }
        setup->Field(1006).setText("me@example.org");
        setup->Field(1007).setText("ops@example.org");
        setup->Field(1002).setText(QString::fromStdString(sink.Address()));
        for (QPushButton* button : setup->findChildren<QPushButton*>()) {
            if (button->text() == "OK") {
                ClickLater(*button);
            }
        }
        return true;
    });
    driver.AnswerBox(QMessageBox::Yes);
    // While the test sends, a modal notice is up, under the result boxes.
    bool noticeSeen = false;
    driver.Then([&](QWidget&) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            noticeSeen = noticeSeen || (widget->objectName() == "emailTestNotice" &&
                                        widget->isVisible() && widget->isModal());
        }
        return true;
    });
    driver.AnswerBox(QMessageBox::Ok);
    driver.AnswerBox(QMessageBox::Ok);

    RecordWrites(dir / "settings.db");
    window.Menu().Action(32771)->trigger();  // returns when the test is over
    EXPECT_TRUE(driver.Done());
    EXPECT_TRUE(noticeSeen);
    ASSERT_EQ(driver.BoxTexts().size(), 3u);
    EXPECT_EQ(driver.BoxTexts()[0],
              "If you have changed your email settings we strongly recommend you run an Email "
              "Settings Test.\n\nPress Yes to run one now.");
    EXPECT_EQ(driver.BoxTexts()[1],
              "Alert Recipient tested successfully, look for Alert test email.");
    EXPECT_EQ(driver.BoxTexts()[2],
              "Recovery Recipient tested successfully, look for Recovery test email.");

    const std::vector<ReceivedMail> mails = sink.WaitForMessages(2, 5s);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"me@example.org"});
    EXPECT_NE(mails[0].data.find("Subject: Testing alert recipient settings"), std::string::npos);
    EXPECT_EQ(mails[1].recipients, std::vector<std::string>{"ops@example.org"});
    EXPECT_NE(mails[1].data.find("Subject: Testing recovery recipient settings"),
              std::string::npos);
    EXPECT_EQ(mails[0].mailFrom, "me@example.org");  // the return address followed the alert

    Landed();
    std::vector<std::string> saved;
    for (const std::string& key : KeysInWriteOrder(dir / "settings.db")) {
        if (key.rfind("SMTP", 0) == 0) {
            saved.push_back(key);
        }
    }
    EXPECT_EQ(saved,
              (std::vector<std::string>{"SMTPName", "SMTPEmail", "SMTPUsername", "SMTPPassword",
                                        "SMTP", "SMTPAuth", "SMTPAlert", "SMTPRecovery"}));
    EXPECT_EQ(store->ReadString("Settings", "SMTPRecovery", ""), "ops@example.org");
}

TEST_F(EmailCommand, FailedAlertTestEndsWithoutTheRecoveryTest) {
    RefusingPort refusing;
    store->WriteString("Settings", "SMTP", "127.0.0.1:" + std::to_string(refusing.Port()));
    store->WriteInt("Settings", "DisableEmails", 0);
    store->WriteString("Settings", "SMTPAlert", "me@example.org");
    store->WriteString("Settings", "SMTPRecovery", "ops@example.org");
    store->WriteString("Settings", "SMTPEmail", "monitor@example.org");
    Start();

    ModalDriver driver;
    driver.AnswerBox(QMessageBox::Ok);  // the mail client's own message
    driver.AnswerBox(QMessageBox::Ok);
    session->Window().Menu().Action(32790)->trigger();
    EXPECT_TRUE(driver.Done());
    ASSERT_EQ(driver.BoxTexts().size(), 2u);
    EXPECT_EQ(driver.BoxTexts()[1], "Failed Alert Recipient test");
    ProcessFor(200ms);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(EmailCommand, TerminatingDuringTheTestClosesItsBoxAndNotice) {
    RefusingPort refusing;
    store->WriteString("Settings", "SMTP", "127.0.0.1:" + std::to_string(refusing.Port()));
    store->WriteInt("Settings", "DisableEmails", 0);
    store->WriteString("Settings", "SMTPAlert", "me@example.org");
    Start();
    desktop::MainWindow& window = session->Window();

    // The mail client's error box is up, its worker waiting on it: a stop
    // signal, and the program runs as its main does.
    ModalDriver driver;
    driver.Then([&](QWidget& modal) {
        if (qobject_cast<QMessageBox*>(&modal) == nullptr) {
            return false;
        }
        SendStopSignal();
        return true;
    });
    QTimer::singleShot(0, &window, [&] { window.Menu().Action(32790)->trigger(); });
    EXPECT_EQ(RunToTheEnd(), desktop::ProgramEnd::kClean);
    EXPECT_TRUE(driver.Done());
    EXPECT_TRUE(window.ExitRequested());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(session->Engine().RunningJobs(), 0);
}

TEST_F(EmailCommand, EndingInsideTheFirstEmailSetupStopsTheTickThatOpenedIt) {
    RefusingPort refusing;
    store->WriteString("Settings", "SMTP", "");
    StoreSite(0, "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/");
    Start();

    // The first tick opens the setup; the program is ended from inside it.
    ModalDriver driver;
    driver.Then([](QWidget& modal) {
        if (qobject_cast<EmailSetupDialog*>(&modal) == nullptr) {
            return false;
        }
        SendStopSignal();
        return true;
    });
    EXPECT_EQ(RunToTheEnd(), desktop::ProgramEnd::kClean);
    EXPECT_TRUE(driver.Done());
    // The tick neither stored its warning threshold nor checked the site.
    EXPECT_FALSE(store->Get("Settings", "Warn0"));
    EXPECT_FALSE(std::filesystem::exists(dir / "state/orvalin/error.log"));
}

TEST_F(EmailCommand, ATestThatCannotStartSaysSo) {
    Start();
    session->Engine().SetThreadStarter([](std::function<void()>) { return false; });
    ModalDriver driver;
    driver.AnswerBox(QMessageBox::Ok);
    session->Window().Menu().Action(32790)->trigger();
    EXPECT_TRUE(driver.Done());
    ASSERT_EQ(driver.BoxTexts().size(), 1u);
    EXPECT_EQ(driver.BoxTexts()[0], "The email test could not be started.");
}

}  // namespace
}  // namespace orvalin::test
