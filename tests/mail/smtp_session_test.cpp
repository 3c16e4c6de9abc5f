// The SMTP session against scripted servers on 127.0.0.1: the exact bytes
// the client sends, every refused step, time limits and connection failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "mail/mail_fakes.h"
#include "mail/smtp_client.h"
#include "resources/strings.h"
#include "settings/settings_store.h"
#include "support/smtp_servers.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using test::ScriptedSmtpServer;

constexpr auto kSessionWait = 10s;
// Long enough for a scripted server on loopback, short enough for a failing test.
constexpr auto kTestReplyLimit = 5s;

std::string ReplyBox(int step, const std::string& reply) {
    return std::string(text::kSmtpReplyBoxPrefix) + std::to_string(step) +
           std::string(text::kSmtpReplyBoxSuffix) + reply;
}

// The client lines of a session. The message (from its Date line to the
// lone dot) becomes one entry, "<message>".
std::vector<std::string> ClientLines(const std::string& session) {
    std::vector<std::string> lines;
    bool inMessage = false;
    std::size_t start = 0;
    while (start < session.size()) {
        const auto end = session.find("\r\n", start);
        const std::string line = session.substr(start, end - start);
        start = end == std::string::npos ? session.size() : end + 2;
        if (inMessage) {
            inMessage = line != ".";
            continue;
        }
        if (!lines.empty() && lines.back() == "DATA" && line.starts_with("Date: ")) {
            lines.push_back("<message>");
            inMessage = true;
            continue;
        }
        lines.push_back(line);
    }
    return lines;
}

// Fails the test unless the session holds one well-formed Message-Id line;
// returns the session with that identifier replaced by "<ID>".
std::string WithoutMessageId(const std::string& session) {
    static const std::regex idLine("Message-Id: <(\\d+)\\.(\\d+)\\.(\\d+)@orvalin>\r\n");
    std::smatch match;
    if (!std::regex_search(session, match, idLine)) {
        ADD_FAILURE() << "no Message-Id line in:\n" << session;
        return session;
    }
    EXPECT_EQ(match[2].str(), std::to_string(::getpid()));
    return match.prefix().str() + "Message-Id: <ID>\r\n" + match.suffix().str();
}

class SmtpSessionTest : public ::testing::Test {
  protected:
    SmtpSessionTest() {
        client.connectLimit = 5s;
        client.replyLimit = kTestReplyLimit;
        account.senderName = "Orvalin Monitor";
        account.senderEmail = "monitor@example.test";
        client.SetAccount(account);
    }

    void PointAt(const std::string& server) {
        account.server = server;
        client.SetAccount(account);
    }

    int SendAlert() {
        return client.SendMail("monitor@example.test", "ops@example.test", "Alert - site down",
                               "Website unreachable");
    }

    // The one session the server saw; fails the test when there is none.
    std::string OnlySession(ScriptedSmtpServer& server) {
        const auto sessions = server.WaitForSessions(1, kSessionWait);
        if (sessions.size() != 1) {
            ADD_FAILURE() << "sessions: " << sessions.size();
            return {};
        }
        return sessions.front();
    }

    test::TempDir dir;
    SettingsStore store{dir / "settings.db"};
    test::RecordedBoxes boxes;
    test::FakeClock clock;
    SmtpAccount account;
    CSmtpClient client{store, boxes, clock};
};

TEST_F(SmtpSessionTest, SendsTheExactSessionAndNoQuit) {
    ScriptedSmtpServer server(test::AcceptingScript());
    PointAt(server.Address());

    EXPECT_EQ(client.SendMail("monitor@example.test", "ops@example.test",
                              "Alert - http://127.0.0.1/", "Website unreachable\nsecond line"),
              1);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(WithoutMessageId(OnlySession(server)),
              "HELO 127.0.0.1\r\n"
              "MAIL FROM: monitor@example.test\r\n"
              "RCPT TO: ops@example.test\r\n"
              "DATA\r\n"
              "Date: Sun, 14 Mar 2004 09:05:07 +0100\r\n"
              "Message-Id: <ID>\r\n"
              "From: Orvalin Monitor <monitor@example.test>\r\n"
              "To: <ops@example.test>\r\n"
              "Subject: Alert - http://127.0.0.1/\r\n"
              "\r\n"
              "Website unreachable\r\nsecond line\r\n.\r\n");
}

TEST_F(SmtpSessionTest, EachMessageGetsItsOwnMessageId) {
    ScriptedSmtpServer server(test::AcceptingScript());
    PointAt(server.Address());
    CSmtpClient otherClient(store, boxes, clock);
    otherClient.SetAccount(account);

    EXPECT_EQ(SendAlert(), 1);
    EXPECT_EQ(SendAlert(), 1);
    EXPECT_EQ(otherClient.SendMail("a@example.test", "b@example.test", "s", "b"), 1);
    const auto sessions = server.WaitForSessions(3, kSessionWait);
    ASSERT_EQ(sessions.size(), 3u);

    static const std::regex idLine("\r\nMessage-Id: (<[^>\r\n]+>)\r\n");
    std::vector<std::string> ids;
    for (const auto& session : sessions) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(session, match, idLine)) << session;
        ids.push_back(match[1].str());
    }
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_NE(ids[0], ids[2]);
    EXPECT_NE(ids[1], ids[2]);
}

TEST_F(SmtpSessionTest, RetriesTheRecipientInBracketsWithoutBoxOrReset) {
    auto script = test::AcceptingScript();
    script.insert(script.begin() + 3, ScriptedReply::Line("501 syntax: RCPT TO:<address>\r\n"));
    ScriptedSmtpServer server(script);
    PointAt(server.Address());

    EXPECT_EQ(SendAlert(), 1);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(ClientLines(OnlySession(server)),
              (std::vector<std::string>{"HELO 127.0.0.1", "MAIL FROM: monitor@example.test",
                                        "RCPT TO: ops@example.test", "RCPT TO: <ops@example.test>",
                                        "DATA", "<message>"}));
}

struct RefusalCase {
    const char* name;
    std::vector<ScriptedReply> script;
    int step;
    std::string reply;
    std::vector<std::string> clientLines;  // "HELO" stands for the whole HELO line
};

void PrintTo(const RefusalCase& refusal, std::ostream* out) {
    *out << refusal.name;
}

class SmtpRefusalTest : public SmtpSessionTest,
                        public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SmtpRefusalTest, ShowsTheBoxOfTheStepAndResetsOnceTheSenderWasNamed) {
    const RefusalCase& refusal = GetParam();
    ScriptedSmtpServer server(refusal.script);
    PointAt(server.Address());

    EXPECT_EQ(SendAlert(), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ReplyBox(refusal.step, refusal.reply)});
    auto lines = ClientLines(OnlySession(server));
    if (!lines.empty() && lines.front() == "HELO 127.0.0.1") {
        lines.front() = "HELO";
    }
    EXPECT_EQ(lines, refusal.clientLines);
}

ScriptedReply Line(const char* text) {
    return ScriptedReply::Line(text);
}

const ScriptedReply kGreeting = Line("220 scripted.test ready\r\n");
const ScriptedReply kOk = Line("250 ok\r\n");
const ScriptedReply kGoAhead = Line("354 go ahead\r\n");

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SmtpRefusalTest,
    ::testing::Values(
        RefusalCase{
            "greeting", {Line("554 no service here\r\n"), kOk}, 1, "554 no service here\r\n", {}},
        RefusalCase{"greetingMentioningTheCodeLater",
                    {Line("554 not 220\r\n"), kOk},
                    1,
                    "554 not 220\r\n",
                    {}},
        RefusalCase{
            "helo", {kGreeting, Line("501 bad HELO\r\n"), kOk}, 2, "501 bad HELO\r\n", {"HELO"}},
        RefusalCase{"mailFrom",
                    {kGreeting, kOk, Line("550 sender refused\r\n"), Line("250 reset\r\n")},
                    3,
                    "550 sender refused\r\n",
                    {"HELO", "MAIL FROM: monitor@example.test", "RSET"}},
        RefusalCase{"rcptToBothForms",
                    {kGreeting, kOk, kOk, Line("501 syntax\r\n"), Line("550 no such user\r\n"),
                     Line("250 reset\r\n")},
                    4,
                    "550 no such user\r\n",
                    {"HELO", "MAIL FROM: monitor@example.test", "RCPT TO: ops@example.test",
                     "RCPT TO: <ops@example.test>", "RSET"}},
        RefusalCase{"data",
                    {kGreeting, kOk, kOk, kOk, Line("503 bad sequence\r\n"), Line("250 reset\r\n")},
                    5,
                    "503 bad sequence\r\n",
                    {"HELO", "MAIL FROM: monitor@example.test", "RCPT TO: ops@example.test", "DATA",
                     "RSET"}},
        RefusalCase{"endOfMessage",
                    {kGreeting, kOk, kOk, kOk, kGoAhead, Line("552 too much mail data\r\n"),
                     Line("250 reset\r\n")},
                    6,
                    "552 too much mail data\r\n",
                    {"HELO", "MAIL FROM: monitor@example.test", "RCPT TO: ops@example.test", "DATA",
                     "<message>", "RSET"}},
        // A refused reset changes nothing: the result is 0 either way.
        RefusalCase{
            "endOfMessageAndReset",
            {kGreeting, kOk, kOk, kOk, kGoAhead, Line("451 try later\r\n"), Line("500 no\r\n")},
            6,
            "451 try later\r\n",
            {"HELO", "MAIL FROM: monitor@example.test", "RCPT TO: ops@example.test", "DATA",
             "<message>", "RSET"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(SmtpSessionTest, RepliesSplitOverSeveralSegmentsAreReadWhole) {
    auto script = test::AcceptingScript();
    script[0] =
        ScriptedReply::Split({"220-scripted.test first line\r\n", "220 second line\r\n"}, 300ms);
    script[1] =
        ScriptedReply::Split({"25", "0-scripted.test\r\n250-SIZE 1000", "\r\n250 HELP\r\n"}, 100ms);
    ScriptedSmtpServer server(script);
    PointAt(server.Address());

    EXPECT_EQ(SendAlert(), 1);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(ClientLines(OnlySession(server)),
              (std::vector<std::string>{"HELO 127.0.0.1", "MAIL FROM: monitor@example.test",
                                        "RCPT TO: ops@example.test", "DATA", "<message>"}));
}

TEST_F(SmtpSessionTest, ARefusedMultiLineReplyIsShownWhole) {
    ScriptedSmtpServer server(
        {ScriptedReply::Split({"554-no service\r\n", "554 here\r\n"}, 200ms)});
    PointAt(server.Address());

    EXPECT_EQ(SendAlert(), 0);
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{ReplyBox(1, "554-no service\r\n554 here\r\n")});
}

TEST_F(SmtpSessionTest, ReplyTextEndsAtTheFirstZeroByte) {
    auto script = test::AcceptingScript();
    script[1] = ScriptedReply::Line(std::string("550 bad\0 hidden\r\n", 17));
    ScriptedSmtpServer server(script);
    PointAt(server.Address());

    EXPECT_EQ(SendAlert(), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ReplyBox(2, "550 bad")});
}

// A call that must end on its own; should it hang, the server is shut down
// to free it and the test fails.
template <typename Server>
int SendWithin(std::chrono::seconds bound, std::unique_ptr<Server>& server,
               const std::function<int()>& send) {
    auto call = std::async(std::launch::async, send);
    if (call.wait_for(bound) != std::future_status::ready) {
        ADD_FAILURE() << "SendMail did not return within " << bound.count() << " s";
        server.reset();
    }
    return call.get();
}

TEST_F(SmtpSessionTest, AReplyThatNeverComesFailsItsStepAsAnEmptyReply) {
    auto server =
        std::make_unique<ScriptedSmtpServer>(std::vector<ScriptedReply>{ScriptedReply::Silent()});
    PointAt(server->Address());
    client.replyLimit = 300ms;

    EXPECT_EQ(SendWithin(30s, server, [&] { return SendAlert(); }), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ReplyBox(1, "")});
}

TEST_F(SmtpSessionTest, AMessageTheServerNeverReadsFailsAtTheReplyLimitWithoutABox) {
    auto script = test::AcceptingScript();
    script[4] = ScriptedReply::LineThenDeaf("354 go ahead\r\n");
    auto server = std::make_unique<ScriptedSmtpServer>(script);
    PointAt(server->Address());
    client.replyLimit = 300ms;
    // Far more than the socket buffers of both ends hold.
    const std::string body(32u << 20, 'x');

    EXPECT_EQ(SendWithin(20s, server,
                         [&] {
                             return client.SendMail("monitor@example.test", "ops@example.test",
                                                    "Large", body);
                         }),
              0);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SmtpSessionTest, AConnectionNeitherAcceptedNorRefusedGivesUpAtTheLimit) {
    auto port = std::make_unique<test::StalledPort>();
    PointAt("127.0.0.1:" + std::to_string(port->Port()));
    client.connectLimit = 300ms;

    EXPECT_EQ(SendWithin(30s, port, [&] { return SendAlert(); }), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{std::string(text::kSmtpConnectFailed)});
}

TEST_F(SmtpSessionTest, ARefusedConnectionIsReported) {
    test::RefusingPort port;
    PointAt("127.0.0.1:" + std::to_string(port.Port()));

    EXPECT_EQ(SendAlert(), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{std::string(text::kSmtpConnectFailed)});
}

TEST_F(SmtpSessionTest, AServerThatCannotBeResolvedIsReported) {
    // A label longer than DNS allows, under the reserved .invalid domain: the
    // lookup fails inside the resolver, before any query leaves the machine.
    for (const std::string& setting :
         {std::string(64, 'x') + ".orvalin.invalid", std::string(64, 'x') + ".orvalin.invalid:2525",
          std::string()}) {
        PointAt(setting);
        EXPECT_EQ(SendAlert(), 0) << setting;
    }
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>(3, std::string(text::kSmtpContactFailed)));
}

TEST_F(SmtpSessionTest, DisabledEmailsSucceedWithoutConnecting) {
    ScriptedSmtpServer server(test::AcceptingScript());
    PointAt(server.Address());
    store.Write(key::kDisableEmails, 1);
    int transports = 0;
    client.makeTransport = [&] {
        ++transports;
        return std::make_unique<PlainSmtpTransport>();
    };

    EXPECT_EQ(SendAlert(), 1);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(transports, 0);
    EXPECT_TRUE(server.WaitForSessions(1, 200ms).empty());
    EXPECT_EQ(server.Connections(), 0);

    // Read at every call: clearing the setting sends again.
    store.Write(key::kDisableEmails, 0);
    EXPECT_EQ(SendAlert(), 1);
    EXPECT_EQ(transports, 1);
    EXPECT_EQ(server.WaitForSessions(1, kSessionWait).size(), 1u);
}

TEST_F(SmtpSessionTest, TheHeldServerIsUsedNotTheStoredSetting) {
    ScriptedSmtpServer first(test::AcceptingScript());
    ScriptedSmtpServer second(test::AcceptingScript());
    store.Write(key::kSmtp, first.Address());
    PointAt(second.Address());
    EXPECT_EQ(SendAlert(), 1);
    EXPECT_EQ(second.WaitForSessions(1, kSessionWait).size(), 1u);
    EXPECT_EQ(first.Connections(), 0);

    // A new account applies to the next message.
    PointAt(first.Address());
    EXPECT_EQ(SendAlert(), 1);
    EXPECT_EQ(first.WaitForSessions(1, kSessionWait).size(), 1u);
    EXPECT_EQ(second.Connections(), 1);
}

// The plain transport, except that one chosen send call fails without
// sending anything.
class SendFailingTransport final : public ISmtpTransport {
  public:
    explicit SendFailingTransport(int failingSend) : failingSend_(failingSend) {}
    bool Open() override { return inner_.Open(); }
    bool Connect(const sockaddr_in& endpoint, std::chrono::milliseconds limit) override {
        return inner_.Connect(endpoint, limit);
    }
    bool Send(std::string_view bytes, std::chrono::milliseconds limit) override {
        return ++sends_ != failingSend_ && inner_.Send(bytes, limit);
    }
    std::string Receive(std::size_t maxBytes, std::chrono::milliseconds limit) override {
        return inner_.Receive(maxBytes, limit);
    }

  private:
    PlainSmtpTransport inner_;
    int failingSend_;
    int sends_ = 0;
};

TEST_F(SmtpSessionTest, AFailingSendEndsTheSessionWithoutABox) {
    // Sends in order: HELO, MAIL, RCPT, DATA, the message.
    for (int failing = 1; failing <= 5; ++failing) {
        ScriptedSmtpServer server(test::AcceptingScript());
        PointAt(server.Address());
        client.makeTransport = [failing] {
            return std::make_unique<SendFailingTransport>(failing);
        };
        EXPECT_EQ(SendAlert(), 0) << "failing send " << failing;
        EXPECT_TRUE(boxes.Texts().empty()) << "failing send " << failing;
        EXPECT_EQ(ClientLines(OnlySession(server)).size(), static_cast<std::size_t>(failing - 1))
            << "failing send " << failing;
    }
}

TEST_F(SmtpSessionTest, AFailingResetSendStillGivesZeroAfterTheBox) {
    ScriptedSmtpServer server({kGreeting, kOk, Line("550 sender refused\r\n"), kOk});
    PointAt(server.Address());
    client.makeTransport = [] { return std::make_unique<SendFailingTransport>(3); };

    EXPECT_EQ(SendAlert(), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ReplyBox(3, "550 sender refused\r\n")});
    EXPECT_EQ(ClientLines(OnlySession(server)),
              (std::vector<std::string>{"HELO 127.0.0.1", "MAIL FROM: monitor@example.test"}));
}

TEST_F(SmtpSessionTest, LineBreaksInValuesCannotAddCommandsOrHeaders) {
    ScriptedSmtpServer server(test::AcceptingScript());
    account.server = server.Address() + "\r\n";
    account.senderName = "Monitor\r\nBcc: hidden@example.test";
    account.senderEmail = "monitor@example.test\nX-Evil: 1";
    client.SetAccount(account);

    EXPECT_EQ(client.SendMail("monitor@example.test\r\nRCPT TO: hidden@example.test",
                              "ops@example.test\r\nRCPT TO: hidden@example.test",
                              "Alert\r\nBcc: hidden@example.test\r\n\r\nfake body", "body"),
              1);
    EXPECT_EQ(WithoutMessageId(OnlySession(server)),
              "HELO 127.0.0.1\r\n"
              "MAIL FROM: monitor@example.testRCPT TO: hidden@example.test\r\n"
              "RCPT TO: ops@example.testRCPT TO: hidden@example.test\r\n"
              "DATA\r\n"
              "Date: Sun, 14 Mar 2004 09:05:07 +0100\r\n"
              "Message-Id: <ID>\r\n"
              "From: MonitorBcc: hidden@example.test <monitor@example.testX-Evil: 1>\r\n"
              "To: <ops@example.testRCPT TO: hidden@example.test>\r\n"
              "Subject: AlertBcc: hidden@example.testfake body\r\n"
              "\r\n"
              "body\r\n.\r\n");
}

TEST_F(SmtpSessionTest, BodyLinesGoOutWithCrLfAndStuffedDots) {
    ScriptedSmtpServer server(test::AcceptingScript());
    PointAt(server.Address());

    // The lone dot would end the message early if it went out unchanged; the
    // scripted server would then answer it and the rest would not be the message.
    EXPECT_EQ(client.SendMail("monitor@example.test", "ops@example.test", "Dots",
                              ".first\nkept\r\n.\n..two\nlast"),
              1);
    EXPECT_TRUE(boxes.Texts().empty());
    const std::string session = OnlySession(server);
    EXPECT_TRUE(session.ends_with("\r\n\r\n..first\r\nkept\r\n..\r\n...two\r\nlast\r\n.\r\n"))
        << session;
    EXPECT_EQ(ClientLines(session).back(), "<message>");
}

}  // namespace
}  // namespace orvalin
