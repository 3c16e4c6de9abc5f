// The modern session (SMTPAuth 1) against scripted servers on 127.0.0.1: the
// exact bytes it sends, and what it refuses to send. TLS itself is left to
// the real-server tests; here a transport may pretend its handshake worked.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "mail/mail_fakes.h"
#include "mail/smtp_client.h"
#include "mail/smtp_login.h"
#include "resources/strings.h"
#include "settings/settings_store.h"
#include "support/smtp_servers.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using test::ScriptedSmtpServer;

ScriptedReply Line(const char* text) {
    return ScriptedReply::Line(text);
}

std::vector<std::string> Lines(const std::string& session) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < session.size();) {
        const auto end = session.find("\r\n", start);
        lines.push_back(session.substr(start, end - start));
        start = end == std::string::npos ? session.size() : end + 2;
    }
    return lines;
}

TEST(SmtpLoginParts, Base64AndTheEhloOffer) {
    EXPECT_EQ(Base64(std::string("\0ops\0s3cr\xff", 10)), "AG9wcwBzM2Ny/w==");
    EXPECT_EQ(Base64("fo"), "Zm8=");

    // Keywords in any case, the older "AUTH=" form; the first line offers nothing.
    const EhloOffer offer =
        ParseEhloReply("250-STARTTLS host\r\n250-starttls\r\n250 AUTH=login CRAM-MD5\r\n");
    EXPECT_TRUE(offer.startTls);
    EXPECT_TRUE(offer.authLogin);
    EXPECT_FALSE(offer.authPlain);
    EXPECT_FALSE(ParseEhloReply("250 STARTTLS\r\n").startTls);
}

// The real TCP transport whose TLS handshake is pretended: the session goes
// on in plain text, so a scripted server can follow it.
class PretendTlsTransport final : public ISmtpTransport {
  public:
    explicit PretendTlsTransport(TlsOutcome outcome) : outcome_(std::move(outcome)) {}
    bool Open() override { return inner_.Open(); }
    bool Connect(const sockaddr_in& endpoint, std::chrono::milliseconds limit) override {
        return inner_.Connect(endpoint, limit);
    }
    bool Send(std::string_view bytes, std::chrono::milliseconds limit) override {
        return inner_.Send(bytes, limit);
    }
    std::string Receive(std::size_t maxBytes, std::chrono::milliseconds limit) override {
        return inner_.Receive(maxBytes, limit);
    }
    TlsOutcome StartTls(const std::string&, bool, std::chrono::milliseconds) override {
        return outcome_;
    }

  private:
    PlainSmtpTransport inner_;
    TlsOutcome outcome_;
};

class SmtpLoginTest : public ::testing::Test {
  protected:
    SmtpLoginTest() {
        client.connectLimit = 5s;
        client.replyLimit = 5s;
    }

    void PointAt(const ScriptedSmtpServer& server) {
        client.SetAccount({.server = server.Address(),
                           .authenticate = true,
                           .username = "ops",
                           .password = "s3cret-pass",
                           .senderName = "Orvalin",
                           .senderEmail = "monitor@example.test"});
    }
    void PretendTls(TlsOutcome outcome = {}) {
        client.makeTransport = [outcome] { return std::make_unique<PretendTlsTransport>(outcome); };
    }
    int Send() {
        return client.SendMail("monitor@example.test", "ops@example.test", "Alert", "down");
    }
    std::vector<std::string> ClientLines(ScriptedSmtpServer& server) {
        const auto sessions = server.WaitForSessions(1, 10s);
        EXPECT_EQ(sessions.size(), 1u);
        return sessions.empty() ? std::vector<std::string>{} : Lines(sessions.front());
    }
    static std::string ServerBox(std::string_view after, const std::string& detail) {
        return std::string(text::kSmtpServerBefore) + "127.0.0.1" + std::string(after) + detail;
    }
    void ExpectNoPasswordShown() {
        for (const std::string& box : boxes.Texts()) {
            EXPECT_EQ(box.find("s3cret-pass"), std::string::npos) << box;
            EXPECT_EQ(box.find(Base64("s3cret-pass")), std::string::npos) << box;
        }
    }

    test::TempDir dir;
    SettingsStore store{dir / "settings.db"};
    test::RecordedBoxes boxes;
    test::FakeClock clock;
    CSmtpClient client{store, boxes, clock};
};

const char* const kEhloWithStartTls = "250-scripted.test\r\n250-STARTTLS\r\n250 SIZE 1000\r\n";

TEST_F(SmtpLoginTest, StartTlsThenAuthLoginThenTheMessageAndQuit) {
    ScriptedSmtpServer server(
        {Line("220 ready\r\n"), Line(kEhloWithStartTls), Line("220 go ahead\r\n"),
         Line("250-scripted.test\r\n250 AUTH LOGIN\r\n"), Line("334 VXNlcm5hbWU6\r\n"),
         Line("334 UGFzc3dvcmQ6\r\n"), Line("235 welcome\r\n"), Line("250 ok\r\n"),
         Line("250 ok\r\n"), Line("354 go\r\n"), Line("250 queued\r\n"), Line("221 bye\r\n")});
    PointAt(server);
    PretendTls();

    EXPECT_EQ(Send(), 1);
    EXPECT_TRUE(boxes.Texts().empty());
    auto lines = ClientLines(server);
    ASSERT_GE(lines.size(), 12u);
    EXPECT_EQ(
        std::vector<std::string>(lines.begin(), lines.begin() + 9),
        (std::vector<std::string>{"EHLO 127.0.0.1", "STARTTLS", "EHLO 127.0.0.1", "AUTH LOGIN",
                                  "b3Bz", "czNjcmV0LXBhc3M=", "MAIL FROM:<monitor@example.test>",
                                  "RCPT TO:<ops@example.test>", "DATA"}));
    EXPECT_TRUE(lines[9].starts_with("Date: ")) << lines[9];
    EXPECT_EQ(lines.back(), "QUIT");
    EXPECT_EQ(lines[lines.size() - 2], ".");
}

TEST_F(SmtpLoginTest, NoStartTlsOfferedSendsNoCredentials) {
    // Plain TCP for real: the server offers a login but no STARTTLS.
    const char* ehlo = "250-scripted.test\r\n250 AUTH PLAIN LOGIN\r\n";
    ScriptedSmtpServer server(
        {Line("220 ready\r\n"), Line(ehlo), Line("221 bye\r\n"), Line("221 bye\r\n")});
    PointAt(server);

    EXPECT_EQ(Send(), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ServerBox(text::kSmtpNoStartTlsAfter, ehlo)});
    EXPECT_EQ(ClientLines(server), (std::vector<std::string>{"EHLO 127.0.0.1", "QUIT"}));

    // A server that refuses EHLO is asked with HELO, and offers nothing.
    ScriptedSmtpServer old({Line("220 ready\r\n"), Line("502 no EHLO here\r\n"),
                            Line("250 old.test\r\n"), Line("221 bye\r\n")});
    PointAt(old);
    EXPECT_EQ(Send(), 0);
    EXPECT_EQ(boxes.Texts().back(), ServerBox(text::kSmtpNoStartTlsAfter, "250 old.test\r\n"));
    EXPECT_EQ(ClientLines(old),
              (std::vector<std::string>{"EHLO 127.0.0.1", "HELO 127.0.0.1", "QUIT"}));

    // A server that offers STARTTLS and then refuses it gets no credentials either.
    ScriptedSmtpServer refusing({Line("220 ready\r\n"), Line(kEhloWithStartTls),
                                 Line("454 TLS not available\r\n"), Line("221 bye\r\n")});
    PointAt(refusing);
    EXPECT_EQ(Send(), 0);
    EXPECT_EQ(boxes.Texts().back(),
              ServerBox(text::kSmtpStartTlsRefusedAfter, "454 TLS not available\r\n"));
    EXPECT_EQ(ClientLines(refusing),
              (std::vector<std::string>{"EHLO 127.0.0.1", "STARTTLS", "QUIT"}));
}

TEST_F(SmtpLoginTest, ARefusedLoginIsShownAndNothingIsSent) {
    ScriptedSmtpServer server({Line("220 ready\r\n"), Line(kEhloWithStartTls),
                               Line("220 go ahead\r\n"),
                               Line("250-scripted.test\r\n250 AUTH PLAIN LOGIN\r\n"),
                               Line("535 5.7.8 credentials invalid\r\n"), Line("221 bye\r\n")});
    PointAt(server);
    PretendTls();

    EXPECT_EQ(Send(), 0);
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{
                  ServerBox(text::kSmtpLoginRefusedAfter, "535 5.7.8 credentials invalid\r\n")});
    ExpectNoPasswordShown();
    EXPECT_EQ(ClientLines(server),
              (std::vector<std::string>{
                  "EHLO 127.0.0.1", "STARTTLS", "EHLO 127.0.0.1",
                  "AUTH PLAIN " + Base64(std::string("\0ops\0s3cret-pass", 16)), "QUIT"}));
}

TEST_F(SmtpLoginTest, ALoginLeftUnansweredIsNotCalledARefusal) {
    // The server goes quiet after offering AUTH PLAIN.
    ScriptedSmtpServer server({Line("220 ready\r\n"), Line(kEhloWithStartTls),
                               Line("220 go ahead\r\n"),
                               Line("250-scripted.test\r\n250 AUTH PLAIN\r\n")});
    PointAt(server);
    PretendTls();
    client.replyLimit = 300ms;
    EXPECT_EQ(Send(), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 "ERROR: SMTP server 127.0.0.1 did not answer the login in time."});
    ExpectNoPasswordShown();
}

TEST_F(SmtpLoginTest, AFailedHandshakeIsShownAndEndsTheConnection) {
    ScriptedSmtpServer server(
        {Line("220 ready\r\n"), Line(kEhloWithStartTls), Line("220 go ahead\r\n")});
    PointAt(server);
    PretendTls({TlsFailure::kCertificate, "certificate has expired"});
    EXPECT_EQ(Send(), 0);
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{std::string(text::kSmtpCertificateBefore) + "127.0.0.1" +
                                       std::string(text::kSmtpCertificateAfter) +
                                       "certificate has expired"});
    // Nothing more goes over a connection whose TLS failed, QUIT included.
    EXPECT_EQ(ClientLines(server), (std::vector<std::string>{"EHLO 127.0.0.1", "STARTTLS"}));
}

TEST_F(SmtpLoginTest, AHandshakeTheServerNeverAnswersEndsAtTheReplyLimit) {
    // The real transport: the server answers STARTTLS, then never speaks TLS.
    ScriptedSmtpServer server(
        {Line("220 ready\r\n"), Line(kEhloWithStartTls), Line("220 go ahead\r\n")});
    PointAt(server);
    client.replyLimit = 300ms;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Send(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{std::string(text::kSmtpTlsFailedBefore) + "127.0.0.1" +
                                       std::string(text::kSmtpBoxColon) +
                                       "the handshake did not finish in time"});
}

}  // namespace
}  // namespace orvalin
