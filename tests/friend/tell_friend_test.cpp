// Tell a friend over a real engine, settings store and SMTP servers on
// 127.0.0.1: what the dialog starts from, its checks, the footer rule, the
// message a real server receives, and what is remembered.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <thread>

#include "desktop/friend/friend_command.h"
#include "desktop/friend/recommendation.h"
#include "desktop/friend/tell_friend_dialog.h"
#include "qt_support.h"
#include "support/smtp_servers.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using test::AnswerNextBox;
using test::WhenModal;

const std::string kFooter =
    "\r\n\r\n\r\n==============================================================\r\n"
    "Check out Orvalin at http://www.quenbridge.example/orvalin.html";

const std::string kDefaultBody =
    "Hey,\r\n\r\n"
    "Check out this new website monitor. It's pretty simple, but it does a great job.\r\n\r\n"
    "It can monitor your websites and send you email alerts if a website becomes unreachable, or "
    "if it returns an invalid response, it can even send a warning if the website becomes too "
    "slow.\r\n\r\n"
    "You can download it at: http://www.quenbridge.example/orvalin.html\r\n\r\n"
    "Anyway, check it out and let me know what you think.\r\n\r\n"
    "See ya!";

template <typename T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

struct Fields {
    QLineEdit* from;
    QLineEdit* to;
    QLineEdit* subject;
    QPlainTextEdit* body;
    QPushButton* ok;
    QPushButton* cancel;
};

Fields FieldsOf(QWidget* dialog) {
    auto* buttons = Child<QDialogButtonBox>(dialog, "buttons");
    return {Child<QLineEdit>(dialog, "fromEdit"),    Child<QLineEdit>(dialog, "toEdit"),
            Child<QLineEdit>(dialog, "subjectEdit"), Child<QPlainTextEdit>(dialog, "bodyEdit"),
            buttons->button(QDialogButtonBox::Ok),   buttons->button(QDialogButtonBox::Cancel)};
}

// Counts the showings of the sending indicator.
class IndicatorWatch : public QObject {
  public:
    IndicatorWatch() { qApp->installEventFilter(this); }
    ~IndicatorWatch() override { qApp->removeEventFilter(this); }
    int shown = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->objectName() == "sendIndicator") {
            ++shown;
        }
        return false;
    }
};

class TellFriendTest : public ::testing::Test {
  protected:
    TellFriendTest() { UseServer(""); }
    // The mail settings as the email setup leaves them, with this server.
    void UseServer(const std::string& server) {
        MailSettings mail;
        mail.server = server;
        mail.senderName = "Site Watch";
        mail.senderEmail = "monitor@example.org";
        fixture.engine->SetMail(mail);
    }
    // Runs the command; fill acts on the dialog as the user would.
    void Run(std::function<void(TellFriendDialog*, Fields)> fill) {
        bool shown = false;
        WhenModal<TellFriendDialog>([&](TellFriendDialog* dialog) {
            shown = true;
            fill(dialog, FieldsOf(dialog));
        });
        RunTellAFriend(nullptr, *fixture.engine, *fixture.store);
        EXPECT_TRUE(shown);
    }
    std::string Stored(const char* key) { return fixture.store->ReadString("Settings", key, "?"); }

    test::EngineFixture fixture;
};

TEST(RecommendationTest, TheFooterIsAddedUnlessTheBodyMentionsThePageAfterItsStart) {
    EXPECT_EQ(ProductPageInBody(), "quenbridge.example/orvalin.html");
    EXPECT_EQ(RecommendationFooter(), kFooter);
    EXPECT_EQ(BodyToSend("Try it"), "Try it" + kFooter);
    EXPECT_EQ(BodyToSend(""), kFooter);
    EXPECT_EQ(BodyToSend("See quenbridge.example/orvalin.html now"),
              "See quenbridge.example/orvalin.html now");
    EXPECT_EQ(BodyToSend("quenbridge.example/orvalin.html is it"),
              "quenbridge.example/orvalin.html is it" + kFooter);
    EXPECT_EQ(BodyToSend("www.quenbridge.example/orvalin.html"),
              "www.quenbridge.example/orvalin.html");
    EXPECT_EQ(BodyToSend("QUENBRIDGE.EXAMPLE/ORVALIN.HTML"),
              "QUENBRIDGE.EXAMPLE/ORVALIN.HTML" + kFooter);
    EXPECT_EQ(DefaultRecommendationBody(), kDefaultBody);
    EXPECT_EQ(BodyToSend(kDefaultBody), kDefaultBody);  // it names the page already
}

TEST_F(TellFriendTest, StartsFromTheDefaultsAndCancelSendsAndStoresNothing) {
    test::SmtpSink sink;
    UseServer(sink.Address());
    const test::StoreWriteLog writes(*fixture.store);
    Run([&](TellFriendDialog* dialog, Fields f) {
        EXPECT_EQ(dialog->windowTitle(), "Tell a friend");
        EXPECT_EQ(f.from->text(), "monitor@example.org");
        EXPECT_EQ(f.to->text(), "");
        EXPECT_EQ(f.subject->text(), "Check out Orvalin!");
        EXPECT_EQ(dialog->Typed().body, kDefaultBody);
        EXPECT_EQ(f.body->toPlainText().toStdString().find('\r'), std::string::npos);
        f.to->setText("friend@example.org");
        f.cancel->click();
    });
    EXPECT_TRUE(writes.Keys().empty());
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(TellFriendTest, OkChecksTheFieldsInOrderAndFocusesTheFirstEmptyOne) {
    const test::StoreWriteLog writes(*fixture.store);
    Run([&](TellFriendDialog* dialog, Fields f) {
        f.from->setText("  ");
        f.to->clear();
        f.subject->setText("\t");
        f.body->setPlainText(" \n ");
        const auto expectRefusal = [&](QWidget* field, const QString& message) {
            auto box = AnswerNextBox(QMessageBox::Ok);
            f.ok->click();
            ASSERT_TRUE(box->seen) << message.toStdString();
            EXPECT_EQ(box->title, "Orvalin");
            EXPECT_EQ(box->icon, QMessageBox::Warning);
            EXPECT_EQ(box->text, message);
            EXPECT_EQ(dialog->focusWidget(), field) << message.toStdString();
            EXPECT_TRUE(dialog->isVisible());
        };
        expectRefusal(f.from, "Please enter your email address");
        f.from->setText("me@example.org");
        expectRefusal(f.to, "Please enter your friend's email address");
        f.to->setText("friend@example.org");
        expectRefusal(f.subject, "Please enter the email's subject");
        f.subject->setText("Look");
        expectRefusal(f.body, "Please enter the email's body");
        f.cancel->click();
    });
    EXPECT_TRUE(writes.Keys().empty());
}

TEST_F(TellFriendTest, ARealServerReceivesTheRecommendationAndTheTextsAreRemembered) {
    test::SmtpSink sink;
    UseServer(sink.Address());
    const test::StoreWriteLog writes(*fixture.store);
    IndicatorWatch indicator;
    Run([&](TellFriendDialog*, Fields f) {
        f.from->setText("me@example.org");
        f.to->setText("friend@example.org");
        f.subject->setText("Look at this");
        f.body->setPlainText("Hi,\n\nTry it.");
        f.ok->click();
    });
    EXPECT_EQ(indicator.shown, 1);
    EXPECT_TRUE(fixture.ui.Warnings().empty());

    const auto messages = sink.WaitForMessages(1, 10s);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].mailFrom, "me@example.org");
    EXPECT_EQ(messages[0].recipients, std::vector<std::string>{"friend@example.org"});
    const std::string& data = messages[0].data;
    EXPECT_NE(data.find("\r\nFrom: Site Watch <monitor@example.org>\r\n"), std::string::npos)
        << data;
    EXPECT_NE(data.find("\r\nSubject: Look at this\r\n"), std::string::npos) << data;
    const std::string body = "\r\n\r\nHi,\r\n\r\nTry it." + kFooter + "\r\n";
    ASSERT_GE(data.size(), body.size());
    EXPECT_EQ(data.substr(data.size() - body.size()), body);

    EXPECT_EQ(writes.Keys(),
              (std::vector<std::string>{"LastFriendFrom", "LastFriendSubject", "LastFriendBody"}));
    EXPECT_EQ(Stored("LastFriendFrom"), "me@example.org");
    EXPECT_EQ(Stored("LastFriendSubject"), "Look at this");
    EXPECT_EQ(Stored("LastFriendBody"), "Hi,\r\n\r\nTry it.");

    // The next opening starts from what was sent, without a recipient.
    Run([&](TellFriendDialog* dialog, Fields f) {
        EXPECT_EQ(f.from->text(), "me@example.org");
        EXPECT_EQ(f.to->text(), "");
        EXPECT_EQ(f.subject->text(), "Look at this");
        EXPECT_EQ(dialog->Typed().body, "Hi,\r\n\r\nTry it.");
        f.cancel->click();
    });
}

TEST_F(TellFriendTest, WhileAServerStallsTheWindowsKeepWorkingAndAFailureStillRemembers) {
    test::StalledPort stalled;
    UseServer("127.0.0.1:" + std::to_string(stalled.Port()));
    fixture.engine->Smtp().connectLimit = 1500ms;
    IndicatorWatch indicator;
    int ticksWhileSending = 0;
    bool escapeIgnored = false;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        QWidget* sending = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "sendIndicator" && top->isVisible()) {
                sending = top;
            }
        }
        if (sending != nullptr) {
            ++ticksWhileSending;
            if (ticksWhileSending == 3) {
                QTest::keyClick(sending, Qt::Key_Escape);  // no way out but the end of the send
                escapeIgnored = sending->isVisible();
            }
        }
    });
    ticker.start(20);
    Run([&](TellFriendDialog*, Fields f) {
        f.from->setText(" me@example.org ");  // kept with its blanks
        f.to->setText("friend@example.org");
        f.subject->setText("Look");
        f.body->setPlainText("Try it");
        f.ok->click();
    });
    ticker.stop();
    EXPECT_EQ(indicator.shown, 1);
    EXPECT_GE(ticksWhileSending, 10);
    EXPECT_TRUE(escapeIgnored);
    EXPECT_EQ(fixture.ui.Warnings(),
              std::vector<std::string>{"ERROR: Failed to connect to SMTP server"});
    EXPECT_EQ(Stored("LastFriendFrom"), " me@example.org ");
    EXPECT_EQ(Stored("LastFriendSubject"), "Look");
    EXPECT_EQ(Stored("LastFriendBody"), "Try it");
}

}  // namespace
}  // namespace orvalin
