// The modern session against a real SMTP server (aiosmtpd) on 127.0.0.1 with
// STARTTLS or TLS from the first byte and a required login, its certificate
// from a test CA made at test time.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "mail/mail_fakes.h"
#include "mail/smtp_client.h"
#include "resources/strings.h"
#include "settings/settings_store.h"
#include "support/smtp_servers.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using test::SmtpSink;
using test::SmtpSinkOptions;

class SmtpTlsDeliveryTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ca_ = std::make_unique<test::TestCa>();
        certificate_ = ca_->Issue("localhost", {"localhost"}, {"127.0.0.1"});
    }
    static void TearDownTestSuite() { ca_.reset(); }

    SmtpTlsDeliveryTest() {
        client.connectLimit = 5s;
        client.replyLimit = 10s;
    }

    static SmtpSinkOptions Secured() {
        return {.certificate = certificate_.certificate,
                .key = certificate_.key,
                .username = "ops",
                .password = "right-pass"};
    }

    int SendThrough(const SmtpSink& sink, const std::string& password = "right-pass") {
        account.server = sink.Address();
        account.password = password;
        client.SetAccount(account);
        return client.SendMail("monitor@example.test", "ops@example.test", "Alert - site down",
                               "Website unreachable");
    }

    std::string ServerBox(std::string_view after, const std::string& detail) const {
        return std::string(text::kSmtpServerBefore) + "127.0.0.1" + std::string(after) + detail;
    }

    test::ScopedEnv trust{"SSL_CERT_FILE", ca_->CaFile().string()};
    test::TempDir dir;
    SettingsStore store{dir / "settings.db"};
    test::RecordedBoxes boxes;
    test::FakeClock clock;
    SmtpAccount account{.authenticate = true,
                        .username = "ops",
                        .senderName = "Orvalin Monitor",
                        .senderEmail = "monitor@example.test"};
    CSmtpClient client{store, boxes, clock};

    static std::unique_ptr<test::TestCa> ca_;
    static test::IssuedCertificate certificate_;
};

std::unique_ptr<test::TestCa> SmtpTlsDeliveryTest::ca_;
test::IssuedCertificate SmtpTlsDeliveryTest::certificate_;

TEST_F(SmtpTlsDeliveryTest, DeliversOverStartTlsWithPlainAndWithLogin) {
    SmtpSink plainAuth(Secured());
    SmtpSinkOptions loginOnly = Secured();
    loginOnly.loginOnly = true;
    SmtpSink loginAuth(loginOnly);

    for (SmtpSink* sink : {&plainAuth, &loginAuth}) {
        EXPECT_EQ(SendThrough(*sink), 1);
        const auto messages = sink->WaitForMessages(1, 10s);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].login, "ops");
        EXPECT_TRUE(messages[0].overTls);
        EXPECT_EQ(messages[0].helo, "127.0.0.1");
        EXPECT_EQ(messages[0].mailFrom, "monitor@example.test");
        EXPECT_EQ(messages[0].recipients, std::vector<std::string>{"ops@example.test"});
        EXPECT_NE(messages[0].data.find("\r\n\r\nWebsite unreachable\r\n"), std::string::npos);
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SmtpTlsDeliveryTest, DeliversOverTlsFromTheFirstByte) {
    SmtpSinkOptions options = Secured();
    options.implicitTls = true;
    SmtpSink sink(options);
    client.implicitTlsPort = sink.Port();

    EXPECT_EQ(SendThrough(sink), 1);
    EXPECT_TRUE(boxes.Texts().empty());
    const auto messages = sink.WaitForMessages(1, 10s);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].login, "ops");
    EXPECT_TRUE(messages[0].overTls);
}

TEST_F(SmtpTlsDeliveryTest, AWrongPasswordIsRefusedWithTheServersAnswer) {
    SmtpSink sink(Secured());
    EXPECT_EQ(SendThrough(sink, "wrong-pass"), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 ServerBox(text::kSmtpLoginRefusedAfter,
                                           "535 5.7.8 Authentication credentials invalid\r\n")});
    EXPECT_TRUE(sink.WaitForMessages(1, 300ms).empty());
}

TEST_F(SmtpTlsDeliveryTest, AServerWithoutStartTlsGetsNothing) {
    SmtpSink sink;  // plain SMTP, no login offered
    EXPECT_EQ(SendThrough(sink), 0);
    const auto texts = boxes.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].starts_with(ServerBox(text::kSmtpNoStartTlsAfter, "250-"))) << texts[0];
    EXPECT_TRUE(sink.WaitForMessages(1, 300ms).empty());
}

TEST_F(SmtpTlsDeliveryTest, AnUntrustedCertificateIsRefusedUnlessCheckingIsOff) {
    SmtpSink sink(Secured());
    test::TempDir other;
    test::ScopedEnv untrusted("SSL_CERT_FILE", (other / "none.pem").string());

    EXPECT_EQ(SendThrough(sink), 0);
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{std::string(text::kSmtpCertificateBefore) + "127.0.0.1" +
                                       std::string(text::kSmtpCertificateAfter) +
                                       "unable to get local issuer certificate"});
    EXPECT_TRUE(sink.WaitForMessages(1, 300ms).empty());

    account.verifyTls = false;  // SMTPTLSVerify 0: a local relay with its own certificate
    EXPECT_EQ(SendThrough(sink), 1);
    EXPECT_EQ(sink.WaitForMessages(1, 10s).size(), 1u);
}

}  // namespace
}  // namespace orvalin
