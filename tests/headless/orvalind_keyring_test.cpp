// The mail password in the keyring: orvalin-settings files it in a real
// Secret Service (gnome-keyring-daemon on a private session bus), a running
// orvalind moves one the store holds there, and orvalind logs in with it;
// where no Secret Service answers, the settings store keeps it.

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <thread>

#include "orvalind_fixture.h"
#include "support/loopback_server.h"
#include "support/secret_service.h"
#include "support/test_ca.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

class OrvalindKeyringTest : public OrvalindTest {
  protected:
    static void SetUpTestSuite() {
        ca_ = std::make_unique<TestCa>();
        certificate_ = ca_->Issue("localhost", {"localhost"}, {"127.0.0.1"});
    }
    static void TearDownTestSuite() { ca_.reset(); }

    // A server that wants a login over STARTTLS, and a failing site to be
    // alerted about.
    void SetUpLoginMail(const SmtpSink& sink) {
        SetUpMail(sink);
        store.Write(key::kSmtpAuth, 1);
        store.Write(key::kSmtpUsername, "ops");
        Monitor(0, "http://127.0.0.1:" + std::to_string(refused.Port()) + "/");
    }

    // One round of orvalind; the alert reaches the server only when the
    // login with the password went through.
    void ExpectAlertSentWithLogin(SmtpSink& sink) {
        const DaemonRun run = RunOrvalind(folders, {"--once"});
        EXPECT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;
        const auto mails = sink.WaitForMessages(1, 10s);
        ASSERT_EQ(mails.size(), 1u) << run.err;
        EXPECT_EQ(mails[0].login, "ops");
        EXPECT_EQ(mails[0].recipients, std::vector<std::string>{kAlertRecipient});
    }

    std::string StoredPassword() const {
        return SettingsStore(store.Path()).Snapshot().Read(key::kSmtpPassword);
    }

    ScopedEnv trust{"SSL_CERT_FILE", ca_->CaFile().string()};
    RefusingPort refused;
    SmtpSinkOptions secured{.certificate = certificate_.certificate,
                            .key = certificate_.key,
                            .username = "ops",
                            .password = "right-pass"};

    static std::unique_ptr<TestCa> ca_;
    static IssuedCertificate certificate_;
};

std::unique_ptr<TestCa> OrvalindKeyringTest::ca_;
IssuedCertificate OrvalindKeyringTest::certificate_;

TEST_F(OrvalindKeyringTest, TheSettingsToolFilesThePasswordInTheKeyringAndOrvalindLogsInWithIt) {
    SecretService keyring;
    if (!keyring.Problem().empty()) {
        GTEST_SKIP() << "no Secret Service for this test: " << keyring.Problem();
    }
    folders.sessionBus = keyring.BusAddress();
    SmtpSink sink(secured);
    SetUpLoginMail(sink);

    const DaemonRun set =
        RunSettingsTool(folders, {"set-string", "Settings", "SMTPPassword", "right-pass"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.err,
              "orvalin-settings: the mail password is kept in the keyring "
              "(Secret Service)\n");
    EXPECT_EQ(StoredPassword(), "");
    const DaemonRun get = RunSettingsTool(folders, {"get", "Settings", "SMTPPassword"});
    EXPECT_EQ(get.out, "right-pass\n") << get.err;

    ExpectAlertSentWithLogin(sink);

    // The item follows a new user name.
    ASSERT_EQ(RunSettingsTool(folders, {"set-string", "Settings", "SMTPUsername", "ops2"}).status,
              0);
    EXPECT_EQ(RunSettingsTool(folders, {"get", "Settings", "SMTPPassword"}).out, "right-pass\n");
    EXPECT_EQ(StoredPassword(), "");
}

TEST_F(OrvalindKeyringTest, ARunningMonitorMovesThePasswordTheStoreHeldIntoTheKeyring) {
    SecretService keyring;
    if (!keyring.Problem().empty()) {
        GTEST_SKIP() << "no Secret Service for this test: " << keyring.Problem();
    }
    folders.sessionBus = keyring.BusAddress();
    SmtpSink sink(secured);
    SetUpLoginMail(sink);
    store.Write(key::kSmtpPassword, "right-pass");

    OrvalindProcess monitor(folders, {});
    for (int i = 0; i < 200 && !StoredPassword().empty(); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(StoredPassword(), "");
    monitor.Signal(SIGTERM);
    EXPECT_TRUE(monitor.WaitForExit(10s).has_value());

    const DaemonRun get = RunSettingsTool(folders, {"get", "Settings", "SMTPPassword"});
    EXPECT_EQ(get.out, "right-pass\n");
    EXPECT_EQ(get.err,
              "orvalin-settings: the mail password is kept in the keyring "
              "(Secret Service)\n");
    ExpectAlertSentWithLogin(sink);
}

TEST_F(OrvalindKeyringTest, WithoutASecretServiceTheStoreKeepsThePassword) {
    SecretService busAlone(false);
    if (!busAlone.Problem().empty()) {
        GTEST_SKIP() << "no session bus for this test: " << busAlone.Problem();
    }
    folders.sessionBus = busAlone.BusAddress();
    SmtpSink sink(secured);
    SetUpLoginMail(sink);

    const DaemonRun set =
        RunSettingsTool(folders, {"set-string", "Settings", "SMTPPassword", "right-pass"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.err, "orvalin-settings: the mail password is kept in the settings store " +
                           store.Path().string() + "\n");
    EXPECT_EQ(StoredPassword(), "right-pass");
    EXPECT_EQ(ModeOf(store.Path()), 0600u);

    ExpectAlertSentWithLogin(sink);
    EXPECT_EQ(StoredPassword(), "right-pass");
}

}  // namespace
}  // namespace orvalin::test
