// orvalind --once against a real nginx and a real SMTP server on 127.0.0.1:
// one round of full checks, then what it printed, logged, mailed and stored.

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "daemon_checks.h"
#include "orvalind_fixture.h"
#include "resources/strings.h"
#include "support/loopback_server.h"
#include "support/network_namespace.h"
#include "support/nginx_server.h"
#include "support/smtp_servers.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

std::string RefusedAddress(const RefusingPort& port) {
    return "http://127.0.0.1:" + std::to_string(port.Port()) + "/";
}

// The text of a log line after its stamp, or "<unstamped>".
std::string Unstamped(const std::string& line) {
    static const std::regex stamped(std::string(kLogStampPattern) + "(.*)");
    std::smatch parts;
    return std::regex_match(line, parts, stamped) ? parts[1].str() : "<unstamped> " + line;
}

std::vector<std::string> UnstampedLines(const std::string& bytes) {
    std::vector<std::string> texts;
    for (const auto& line : LogLines(bytes)) {
        texts.push_back(Unstamped(line));
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

void ExpectMail(const ReceivedMail& mail, const std::string& recipient,
                const std::string& subject) {
    EXPECT_EQ(mail.mailFrom, kSender);
    EXPECT_EQ(mail.recipients, std::vector<std::string>{recipient});
    const SplitMail split = Split(mail);
    ASSERT_EQ(split.headers.size(), 5u) << mail.data;
    EXPECT_EQ(split.headers[0].first, "Date");
    EXPECT_FALSE(split.headers[0].second.empty());
    EXPECT_EQ(split.headers[1].first, "Message-Id");
    EXPECT_FALSE(split.headers[1].second.empty());
    EXPECT_EQ(split.headers[2],
              std::make_pair(std::string("From"), std::string(kSenderName) + " <" + kSender + ">"));
    EXPECT_EQ(split.headers[3], std::make_pair(std::string("To"), "<" + recipient + ">"));
    EXPECT_EQ(split.headers[4], std::make_pair(std::string("Subject"), subject));
}

// "Nms" or, for a time that rounded to 0, "unavailable", then a stamp.
const std::string kLastAccessOfAnAnswer = std::string(R"((\d+ms|unavailable))") + kStampPattern;

class OrvalindOnceTest : public OrvalindTest {
  protected:
    // Slot 0 answers well after an outstanding alert, slot 1 answers 404,
    // slot 2 refuses the connection.
    void ConfigureThreeSites(const SmtpSink& sink) {
        SetUpMail(sink);
        Monitor(0, good);
        Monitor(1, missing);
        Monitor(2, unreachable);
        store.Write(key::kWarned, 0, 1);
        store.Write(key::kLastAlert, 0, kOldStamp);
        store.Write(key::kLastRecovery, 1, kOldStamp);
        store.Write(key::kLastRecovery, 2, kOldStamp);
    }

    static constexpr const char* kOldStamp = " on 03/14/2004 at 09:05:07";

    NginxServer nginx;
    RefusingPort refusing;
    const std::string good = nginx.Url();
    const std::string missing = nginx.Url("missing");
    const std::string unreachable = RefusedAddress(refusing);
};

TEST_F(OrvalindOnceTest, OneRoundChecksEverySiteAndPrintsLogsMailsAndStoresItsOutcome) {
    SmtpSink sink;
    ConfigureThreeSites(sink);

    const DaemonRun run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;

    // One line per site.
    const auto printed = PrintedChecks(run.out);
    EXPECT_EQ(printed.size(), 3u) << run.out;
    ASSERT_EQ(printed.count(good), 1u) << run.out;
    ASSERT_EQ(printed.count(missing), 1u) << run.out;
    ASSERT_EQ(printed.count(unreachable), 1u) << run.out;
    EXPECT_EQ(printed.find(good)->second.outcome, "success");
    EXPECT_EQ(printed.find(missing)->second.outcome, "unexpected response");
    EXPECT_EQ(printed.find(unreachable)->second.outcome, "unreachable");
    EXPECT_EQ(printed.find(good)->second.caption, good);
    // The caption is the address: it is printed once.
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex("(^|\n)" + EscapeRegex(good) +
                            ": success; Last access: " + kLastAccessOfAnAnswer + "\n")))
        << run.out;
    EXPECT_TRUE(
        std::regex_match(printed.find(good)->second.lastAccess, std::regex(kLastAccessOfAnAnswer)))
        << run.out;
    EXPECT_TRUE(std::regex_match(printed.find(unreachable)->second.lastAccess,
                                 std::regex(std::string("unavailable") + kStampPattern)))
        << run.out;

    // The logs in the state folder, one stamped CR LF line per entry.
    const std::vector<std::string> access = LogLines(AccessLog());
    ASSERT_EQ(access.size(), 1u) << AccessLog();
    EXPECT_TRUE(std::regex_match(access[0], std::regex(std::string(kLogStampPattern) + "SUCCESS " +
                                                       EscapeRegex(good) + R"( \d+ms)")))
        << access[0];
    EXPECT_EQ(UnstampedLines(ErrorLog()),
              (std::vector<std::string>{"Unexpected response 404 " + missing,
                                        "Website unreachable: " + unreachable}))
        << ErrorLog();

    // The recovery of slot 0 and the alerts of slots 1 and 2.
    const std::vector<ReceivedMail> mails = sink.WaitForMessages(3, 20s);
    ASSERT_EQ(mails.size(), 3u);
    const std::string lastRecovery0 = store.Read(key::kLastRecovery, 0);
    const std::string lastAlert1 = store.Read(key::kLastAlert, 1);
    const std::string lastAlert2 = store.Read(key::kLastAlert, 2);
    EXPECT_TRUE(MatchesStamp(lastRecovery0)) << lastRecovery0;
    EXPECT_TRUE(MatchesStamp(lastAlert1)) << lastAlert1;
    EXPECT_TRUE(MatchesStamp(lastAlert2)) << lastAlert2;

    const ReceivedMail recovery = OnlyMailWithSubject(mails, "Recovery - " + good);
    ExpectMail(recovery, kRecoveryRecipient, "Recovery - " + good);
    EXPECT_EQ(Split(recovery).body, "Website recovered" + lastRecovery0);

    const ReceivedMail alert404 = OnlyMailWithSubject(mails, "Alert - " + missing);
    ExpectMail(alert404, kAlertRecipient, "Alert - " + missing);
    EXPECT_EQ(Split(alert404).body, "Unexpected response (404) from site" + lastAlert1);

    // A refused connection leaves no status text after the two line ends.
    const ReceivedMail alertDown = OnlyMailWithSubject(mails, "Alert - " + unreachable);
    ExpectMail(alertDown, kAlertRecipient, "Alert - " + unreachable);
    EXPECT_EQ(Split(alertDown).body, "Website unreachable" + lastAlert2 + "\r\n\r\n");

    // The alert states and texts the next run starts from.
    EXPECT_EQ(store.Read(key::kWarned, 0), 0);
    EXPECT_EQ(store.Read(key::kWarned, 1), 1);
    EXPECT_EQ(store.Read(key::kWarned, 2), 1);
    EXPECT_EQ(store.Read(key::kLastAlert, 0), kOldStamp);     // a recovery keeps it
    EXPECT_EQ(store.Read(key::kLastRecovery, 1), "");         // emptied by the 404 alert
    EXPECT_EQ(store.Read(key::kLastRecovery, 2), kOldStamp);  // kept by the unreachable one
    EXPECT_EQ(store.Read(key::kAccessLogFile), accessLogFile.string());
    EXPECT_EQ(store.Read(key::kErrorLogFile), errorLogFile.string());
    EXPECT_FALSE(NumOpen().has_value());  // one round is not a running instance
}

TEST_F(OrvalindOnceTest, ASecondRoundSendsNoNewAlertsAndAppendsToTheLogs) {
    SmtpSink sink;
    ConfigureThreeSites(sink);
    ASSERT_EQ(RunOrvalind(folders, {"--once"}).status, kStatusSomeFailing);
    ASSERT_EQ(sink.WaitForMessages(3, 20s).size(), 3u);
    const std::string firstAccess = AccessLog();
    const std::string firstErrors = ErrorLog();
    const std::string lastAlert1 = store.Read(key::kLastAlert, 1);
    const std::string lastAlert2 = store.Read(key::kLastAlert, 2);
    const std::string lastRecovery0 = store.Read(key::kLastRecovery, 0);

    const DaemonRun run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;
    EXPECT_EQ(PrintedChecks(run.out).size(), 3u) << run.out;

    // Every mail is in once the program has ended: it waits for each answer.
    EXPECT_EQ(sink.Messages().size(), 3u);
    EXPECT_EQ(store.Read(key::kWarned, 0), 0);
    EXPECT_EQ(store.Read(key::kWarned, 1), 1);
    EXPECT_EQ(store.Read(key::kWarned, 2), 1);
    EXPECT_EQ(store.Read(key::kLastAlert, 1), lastAlert1);
    EXPECT_EQ(store.Read(key::kLastAlert, 2), lastAlert2);
    EXPECT_EQ(store.Read(key::kLastRecovery, 0), lastRecovery0);

    const std::string access = AccessLog();
    const std::string errors = ErrorLog();
    EXPECT_TRUE(access.starts_with(firstAccess));
    EXPECT_TRUE(errors.starts_with(firstErrors));
    const std::vector<std::string> accessLines = LogLines(access);
    ASSERT_EQ(accessLines.size(), 2u) << access;
    EXPECT_EQ(Unstamped(accessLines[1]).rfind("SUCCESS " + good + " ", 0), 0u) << access;
    EXPECT_EQ(UnstampedLines(errors),
              (std::vector<std::string>{
                  "Unexpected response 404 " + missing, "Unexpected response 404 " + missing,
                  "Website unreachable: " + unreachable, "Website unreachable: " + unreachable}))
        << errors;
}

TEST_F(OrvalindOnceTest, LinesThatCouldNotBeWrittenAreWrittenByTheNextRun) {
    // The access log's folder does not exist yet: the line waits.
    const std::filesystem::path later = dir / "later" / "access.log";
    store.Write(key::kAccessLogFile, later.string());
    Monitor(0, good);
    ASSERT_EQ(RunOrvalind(folders, {"--once"}).status, kStatusAllWell);
    EXPECT_FALSE(std::filesystem::exists(later));

    std::filesystem::create_directory(later.parent_path());
    ASSERT_EQ(RunOrvalind(folders, {"--once"}).status, kStatusAllWell);
    const std::vector<std::string> lines = LogLines(ReadFileBytes(later));
    ASSERT_EQ(lines.size(), 2u) << ReadFileBytes(later);
    EXPECT_EQ(Unstamped(lines[0]).rfind("Missed Entry: <", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("> SUCCESS " + good + " "), std::string::npos) << lines[0];
    EXPECT_EQ(Unstamped(lines[1]).rfind("SUCCESS " + good + " ", 0), 0u) << lines[1];

    // Written once: a third run adds only its own line.
    ASSERT_EQ(RunOrvalind(folders, {"--once"}).status, kStatusAllWell);
    EXPECT_EQ(LogLines(ReadFileBytes(later)).size(), 3u);
}

TEST_F(OrvalindOnceTest, ARoundOfWellSitesEndsWithStatusZeroAndSendsNothing) {
    SmtpSink sink;
    SetUpMail(sink);
    Monitor(0, good);
    Monitor(3, good);  // slots between monitored ones may stay empty

    const DaemonRun run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusAllWell) << run.out << run.err;
    const auto printed = PrintedChecks(run.out);
    ASSERT_EQ(printed.count(good), 2u) << run.out;
    for (auto [it, end] = printed.equal_range(good); it != end; ++it) {
        EXPECT_EQ(it->second.outcome, "success");
    }
    EXPECT_EQ(UnstampedLines(AccessLog()).size(), 2u) << AccessLog();
    EXPECT_TRUE(LogLines(ErrorLog()).empty()) << ErrorLog();
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(OrvalindOnceTest, ASlowSiteEndsWithStatusOneAndWarnsInBothLogsAndByMail) {
    SmtpSink sink;
    SetUpMail(sink);
    LoopbackServer slowServer(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n", 50ms));
    const std::string slow = "http://" + slowServer.HostAndPort() + "/";
    Monitor(0, slow);
    store.Write(key::kWarn, 0, 0);  // any time above 0 ms is slow
    Monitor(1, good);

    const DaemonRun run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusSomeSlow) << run.out << run.err;
    const auto printed = PrintedChecks(run.out);
    ASSERT_EQ(printed.count(slow), 1u) << run.out;
    ASSERT_EQ(printed.count(good), 1u) << run.out;
    EXPECT_EQ(printed.find(slow)->second.outcome, "slow");
    EXPECT_EQ(printed.find(good)->second.outcome, "success");

    const std::vector<ReceivedMail> mails = sink.WaitForMessages(1, 20s);
    ASSERT_EQ(mails.size(), 1u);
    ExpectMail(mails[0], kAlertRecipient, "Warning - " + slow);
    std::smatch body;
    const std::string bodyText = Split(mails[0]).body;
    ASSERT_TRUE(std::regex_match(
        bodyText, body,
        std::regex(std::string(R"(Slow response from website \((\d+)ms\))") + kStampPattern)))
        << bodyText;
    const std::string ms = body[1];
    EXPECT_NE(ms, "0");

    // The same time in both logs and on the printed line.
    const std::string warning = "WARNING " + slow + " " + ms + "ms";
    const std::vector<std::string> access = UnstampedLines(AccessLog());
    ASSERT_EQ(access.size(), 2u) << AccessLog();
    EXPECT_EQ(std::count(access.begin(), access.end(), warning), 1) << AccessLog();
    EXPECT_EQ(UnstampedLines(ErrorLog()), std::vector<std::string>{warning}) << ErrorLog();
    EXPECT_EQ(printed.find(slow)->second.lastAccess.rfind(ms + "ms on ", 0), 0u) << run.out;
    EXPECT_EQ(store.Read(key::kWarned, 0), 0);
}

TEST_F(OrvalindOnceTest, WithoutAMailServerTheHintNamesTheSettingsToolAndNoticesAreMarkedUnsent) {
    // Slot 0 is left empty: the hint comes with the first round all the same.
    Monitor(1, missing);
    Monitor(2, good);
    store.Write(key::kWarned, 2, 1);
    Monitor(3, good);
    store.Write(key::kWarn, 3, 0);  // slow: its warning is not tried either

    const DaemonRun run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;
    EXPECT_NE(run.err.find("orvalin-settings"), std::string::npos) << run.err;
    const std::string hint = "Email notices are not set up.";
    const auto first = run.err.find(hint);
    EXPECT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(hint, first + 1), std::string::npos) << "printed twice: " << run.err;
    EXPECT_EQ(run.out.find("orvalin-settings"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("ERROR"), std::string::npos) << run.err;

    EXPECT_EQ(store.Read(key::kLastAlert, 1), text::kAlertNotSent);
    EXPECT_EQ(store.Read(key::kWarned, 1), 1);
    EXPECT_EQ(store.Read(key::kLastRecovery, 2), text::kRecoveryNotSent);
    EXPECT_EQ(store.Read(key::kWarned, 2), 0);
}

TEST_F(OrvalindOnceTest, WithoutAMonitoredSiteItEndsWithStatusThreeAndSaysWhy) {
    DaemonRun run = RunOrvalind(folders, {"--once"}, 20s);
    EXPECT_EQ(run.status, kStatusNoSite);
    EXPECT_NE(run.err.find("no site is configured"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "ORVALIN UNKNOWN - no site is configured\n");
    EXPECT_FALSE(NumOpen().has_value());

    // Monitoring without a site would wait for ever: it ends the same way.
    run = RunOrvalind(folders, {}, 20s);
    EXPECT_EQ(run.status, kStatusNoSite);
    EXPECT_NE(run.err.find("no site is configured"), std::string::npos) << run.err;
    EXPECT_EQ(NumOpen(), 0);

    // Blanks and a slot's placeholder text are no address: no check may be
    // waited for.
    Monitor(1, " \t ");
    Monitor(2, std::string(text::kAddressPlaceholders[2]));
    run = RunOrvalind(folders, {"--once"}, 20s);
    EXPECT_EQ(run.status, kStatusNoSite) << run.out << run.err;
    EXPECT_FALSE(run.err.empty());

    // Beside a real site they are left out of the round.
    Monitor(0, good);
    run = RunOrvalind(folders, {"--once"}, 20s);
    EXPECT_EQ(run.status, kStatusAllWell) << run.out << run.err;
    EXPECT_EQ(PrintedChecks(run.out).size(), 1u) << run.out;
}

TEST_F(OrvalindOnceTest, AStoreThatCannotBeReadIsNamedAndLeftAsItIs) {
    const std::filesystem::path file = StoreUnder(folders.config);
    {
        // Written and closed, so that every value is in the file itself.
        SettingsStore writer(file);
        writer.Write(key::kLastWebsite, 0, good);
        writer.Write(key::kLastWebsiteTitle, 0, good);
    }
    std::string bytes = ReadFileBytes(file);
    ASSERT_FALSE(bytes.empty());
    bytes.replace(0, 16, "not a database!!");  // the header that names an SQLite file
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--once"}, {}}) {
        const DaemonRun run = RunOrvalind(folders, args, 30s);
        EXPECT_EQ(run.status, 5) << run.out << run.err;
        EXPECT_NE(run.err.find("the settings store cannot be read: " + file.string() +
                               ": file is not a database"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ReadFileBytes(file), bytes);  // no default written over it
    EXPECT_FALSE(std::filesystem::exists(accessLogFile));
    EXPECT_FALSE(std::filesystem::exists(errorLogFile));
}

TEST_F(OrvalindOnceTest, AFailuresCauseIsPrintedAndLoggedAfterTheAddress) {
    // An https:// site whose server hangs up fails its TLS handshake.
    LoopbackServer hangUp(ServerScript::Only(ServerScript::Action::kCloseAtOnce));
    const std::string secure = "https://" + hangUp.HostAndPort() + "/";
    store.Write(key::kProbeMode, 1);
    Monitor(0, secure);

    const DaemonRun run = RunOrvalind(folders, {"--once"});
    const auto printed = PrintedChecks(run.out);
    ASSERT_EQ(printed.count(secure), 1u) << run.out << run.err;
    const std::string cause = printed.find(secure)->second.cause;
    EXPECT_TRUE(cause.starts_with("TLS: ")) << run.out;
    EXPECT_EQ(UnstampedLines(ErrorLog()),
              std::vector<std::string>{"Website unreachable: " + secure + " (" + cause + ")"});
}

TEST_F(OrvalindOnceTest, OpenSslIsLoadedOnlyWhenASecureSiteIsChecked) {
    // Loading OpenSSL costs a round of plain sites more than its checks: such
    // a round never maps it, and an https:// site loads it for its handshake.
    const auto roundLoadsOpenSsl = [&] {
        const std::filesystem::path trace = folders.output / "loader";
        RunOrvalind(folders, {"--once"}, std::chrono::seconds(60),
                    ChildOptions{{"LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + trace.string()}});
        std::string loaded;
        for (const auto& entry : std::filesystem::directory_iterator(folders.output)) {
            if (entry.path().filename().string().starts_with("loader")) {
                loaded += ReadFileBytes(entry.path());
                std::filesystem::remove(entry.path());
            }
        }
        EXPECT_NE(loaded, "");  // the loader wrote its trace
        return loaded.find("libssl.so") != std::string::npos;
    };
    Monitor(0, good);
    EXPECT_FALSE(roundLoadsOpenSsl());

    LoopbackServer hangUp(ServerScript::Only(ServerScript::Action::kCloseAtOnce));
    store.Write(key::kProbeMode, 1);
    Monitor(0, "https://" + hangUp.HostAndPort() + "/");
    EXPECT_TRUE(roundLoadsOpenSsl());
}

TEST_F(OrvalindOnceTest, BytesFromAServerReachTheTerminalEscaped) {
    // A greeting that would ring the bell and rewrite the terminal's title.
    ScriptedSmtpServer server({ScriptedReply::Line("554 no\a\x1b]0;owned\x07 thanks\r\n")});
    store.Write(key::kSmtp, server.Address());
    store.Write(key::kSmtpAlert, kAlertRecipient);
    Monitor(0, missing);

    const DaemonRun run = RunOrvalind(folders, {"--once"});
    EXPECT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;
    EXPECT_NE(run.err.find("554 no\\x07\\x1B]0;owned\\x07 thanks\\x0D\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.err.find('\a'), std::string::npos);
}

// The plugin line's performance value of one site: its time in ms against
// its slow threshold, with 0 as the least.
void ExpectTimed(const PerfValue& perf, const std::string& label, const std::string& warn) {
    EXPECT_EQ(perf.label, label);
    ASSERT_TRUE(perf.value.has_value()) << label;
    EXPECT_GE(*perf.value, 1.0) << label;
    EXPECT_EQ(perf.unit, "ms");
    EXPECT_EQ(perf.warn, warn);
    EXPECT_EQ(perf.crit, "");
    EXPECT_EQ(perf.min, "0");
    EXPECT_EQ(perf.max, "");
}

TEST_F(OrvalindOnceTest, ItsFirstLineIsAMonitoringPluginLineWithEverySitesTime) {
    Monitor(0, good);
    Monitor(2, good);
    store.Write(key::kWarn, 2, 5000);
    DaemonRun run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusAllWell) << run.out << run.err;
    std::optional<PluginOutput> plugin = ParsePluginLine(FirstLine(run.out));
    ASSERT_TRUE(plugin) << run.out;
    EXPECT_EQ(plugin->text, "ORVALIN OK - 2 sites well");
    ASSERT_EQ(plugin->perf.size(), 2u) << run.out;
    ExpectTimed(plugin->perf[0], "site1", "10000");
    ExpectTimed(plugin->perf[1], "site3", "5000");
    EXPECT_EQ(PrintedChecks(run.out).size(), 2u) << run.out;  // the site lines follow

    // A slow answer makes a WARNING that names the site and its time.
    LoopbackServer lagging(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n", 300ms));
    const std::string slow = "http://" + lagging.HostAndPort() + "/";
    Monitor(1, slow);
    store.Write(key::kWarn, 1, 100);
    run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusSomeSlow) << run.out << run.err;
    plugin = ParsePluginLine(FirstLine(run.out));
    ASSERT_TRUE(plugin) << run.out;
    ASSERT_EQ(plugin->perf.size(), 3u) << run.out;
    ExpectTimed(plugin->perf[1], "site2", "100");
    EXPECT_GE(plugin->perf[1].value.value_or(0), 300);
    std::smatch named;
    ASSERT_TRUE(std::regex_match(plugin->text, named,
                                 std::regex("ORVALIN WARNING - 1 of 3 sites slow: " +
                                            EscapeRegex(slow) + R"( \((\d+)ms\))")))
        << plugin->text;
    EXPECT_EQ(std::stod(named[1]), plugin->perf[1].value.value_or(0));

    // Failures outrank it: CRITICAL names the failing sites only, and the
    // site that gave no time is undetermined.
    Monitor(0, missing);
    Monitor(3, unreachable);
    run = RunOrvalind(folders, {"--once"});
    ASSERT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;
    plugin = ParsePluginLine(FirstLine(run.out));
    ASSERT_TRUE(plugin) << run.out;
    EXPECT_EQ(plugin->text, "ORVALIN CRITICAL - 2 of 4 sites failing: " + missing +
                                " (unexpected response 404), " + unreachable + " (unreachable)");
    ASSERT_EQ(plugin->perf.size(), 4u) << run.out;
    ExpectTimed(plugin->perf[0], "site1", "10000");  // a 404 came with a time
    EXPECT_EQ(plugin->perf[3].label, "site4");
    EXPECT_FALSE(plugin->perf[3].value.has_value()) << run.out;
    EXPECT_EQ(plugin->perf[3].warn, "10000");
    EXPECT_EQ(PrintedChecks(run.out).size(), 4u) << run.out;
}

// The Prometheus client's reading of a metrics file: its "TYPE name type"
// lines and "name{label=value,...} value" samples, or "rejected: ..." and
// status 1.
DaemonRun ParseMetrics(const ChildFolders& folders, const std::filesystem::path& file) {
    const auto script = std::filesystem::path(ORVALIN_TEST_SOURCE_DIR) / "headless/metrics_dump.py";
    OrvalindProcess parser(folders, {script.string(), file.string()}, "/usr/bin/python3");
    const int status = parser.WaitForExit(30s).value_or(-1);
    return {status, parser.Out(), parser.Err()};
}

// The value of one sample the parser read, or -1 when it read none.
double Sample(const std::string& dump, const std::string& sample) {
    const std::size_t at = dump.find("\n" + sample + " ");
    return at == std::string::npos ? -1 : std::stod(dump.substr(at + sample.size() + 2));
}

TEST_F(OrvalindOnceTest, AMetricsFileIsReplacedWholeAfterEveryCheckAndReadsAsPrometheusText) {
    // Mail that cannot be sent: the recovery of slot 1 and both alerts fail.
    RefusingPort noMail;
    store.Write(key::kSmtp, "127.0.0.1:" + std::to_string(noMail.Port()));
    store.Write(key::kSmtpAlert, kAlertRecipient);
    store.Write(key::kSmtpRecovery, kRecoveryRecipient);
    const std::string odd = nginx.Url("a\"b\\c");  // label values escape both
    Monitor(0, good);
    Monitor(1, odd);
    Monitor(2, unreachable);
    store.Write(key::kWarned, 0, 1);

    const std::filesystem::path folder = dir.Path() / "textfiles";
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / "orvalin.prom";
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO), 0);
    const auto before = std::chrono::system_clock::now();
    const DaemonRun run = RunOrvalind(folders, {"--once", "--metrics-file", file.string()});
    const auto after = std::chrono::system_clock::now();
    ASSERT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;

    // The file only ever appeared by a rename, once per check: a reader never
    // saw it half written. The temporary files were hidden, and are gone.
    int renames = 0;
    alignas(inotify_event) char events[64 * 1024];
    const ssize_t length = ::read(watch, events, sizeof events);
    for (ssize_t at = 0; at < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        const std::string name = event->name;
        EXPECT_TRUE(name == "orvalin.prom" ? event->mask == IN_MOVED_TO
                                           : name.starts_with(".orvalin.prom."))
            << name << " " << event->mask;
        renames += name == "orvalin.prom" ? 1 : 0;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    ::close(watch);
    EXPECT_EQ(renames, 3);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);

    const DaemonRun parsed = ParseMetrics(folders, file);
    ASSERT_EQ(parsed.status, 0) << parsed.out << parsed.err;
    for (const char* type :
         {"orvalin_site_up gauge", "orvalin_site_state gauge",
          "orvalin_site_response_milliseconds gauge", "orvalin_site_best_milliseconds gauge",
          "orvalin_site_worst_milliseconds gauge",
          "orvalin_site_last_check_timestamp_seconds gauge", "orvalin_site_alert_outstanding gauge",
          "orvalin_checks counter", "orvalin_mail_failures counter"}) {
        EXPECT_NE(parsed.out.find(std::string("TYPE ") + type + "\n"), std::string::npos) << type;
    }
    const std::string site[] = {"{slot=1,url=" + good + "}", "{slot=2,url=" + odd + "}",
                                "{slot=3,url=" + unreachable + "}"};
    // Up, state and alert of the three sites; a site that gave no time has none.
    const std::vector<std::pair<std::string, double>> expected = {
        {"orvalin_site_up" + site[0], 1},
        {"orvalin_site_up" + site[1], 0},
        {"orvalin_site_up" + site[2], 0},
        {"orvalin_site_state" + site[0], 0},
        {"orvalin_site_state" + site[1], 2},
        {"orvalin_site_state" + site[2], 2},
        {"orvalin_site_alert_outstanding" + site[0], 1},  // its recovery could not be sent
        {"orvalin_site_alert_outstanding" + site[1], 0},
        {"orvalin_site_response_milliseconds" + site[2], -1},
        {"orvalin_site_best_milliseconds" + site[2], -1},
        {"orvalin_checks_total{}", 3},
        {"orvalin_mail_failures_total{}", 3},
    };
    for (const auto& [sample, value] : expected) {
        EXPECT_EQ(Sample(parsed.out, sample), value) << sample << "\n" << parsed.out;
    }
    for (int i : {0, 1}) {
        const double ms = Sample(parsed.out, "orvalin_site_response_milliseconds" + site[i]);
        EXPECT_GE(ms, 1) << parsed.out;
        EXPECT_EQ(Sample(parsed.out, "orvalin_site_best_milliseconds" + site[i]), ms);
        EXPECT_EQ(Sample(parsed.out, "orvalin_site_worst_milliseconds" + site[i]), ms);
    }
    for (const std::string& labels : site) {
        const double at = Sample(parsed.out, "orvalin_site_last_check_timestamp_seconds" + labels);
        EXPECT_GE(at, std::chrono::floor<std::chrono::seconds>(before).time_since_epoch().count());
        EXPECT_LE(at, std::chrono::ceil<std::chrono::seconds>(after).time_since_epoch().count());
    }
}

TEST_F(OrvalindOnceTest, AMetricsFileThatCannotBeWrittenIsNamedOnceAndChecksGoOn) {
    Monitor(0, good);
    Monitor(1, good);
    const std::filesystem::path file = dir.Path() / "no-such-folder" / "orvalin.prom";
    const DaemonRun run = RunOrvalind(folders, {"--once", "--metrics-file", file.string()});
    EXPECT_EQ(run.status, kStatusAllWell) << run.out << run.err;
    const std::string named = "Cannot write the metrics file " + file.string() + ": ";
    const auto first = run.err.find(named);
    EXPECT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(named, first + 1), std::string::npos) << run.err;
    EXPECT_TRUE(FirstLine(run.out).starts_with("ORVALIN OK - 2 sites well | ")) << run.out;

    // Without a path the option is a wrong call.
    EXPECT_EQ(RunOrvalind(folders, {"--once", "--metrics-file"}, 20s).status, kStatusUsage);
}

TEST_F(OrvalindOnceTest, OptionsAreReadBeforeAnythingIsChecked) {
    Monitor(0, unreachable);

    const DaemonRun bogus = RunOrvalind(folders, {"--bogus"}, 20s);
    EXPECT_EQ(bogus.status, kStatusUsage);
    EXPECT_NE(bogus.err.find("usage"), std::string::npos) << bogus.err;
    EXPECT_NE(bogus.err.find("--bogus"), std::string::npos) << bogus.err;
    EXPECT_EQ(bogus.out, "");

    const DaemonRun extra = RunOrvalind(folders, {"--once", "extra"}, 20s);
    EXPECT_EQ(extra.status, kStatusUsage);

    const DaemonRun help = RunOrvalind(folders, {"--help"}, 20s);
    EXPECT_EQ(help.status, kStatusAllWell);
    EXPECT_NE(help.out.find("--once"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    // None of them ran a check or counted itself as an instance.
    EXPECT_FALSE(std::filesystem::exists(errorLogFile));
    EXPECT_FALSE(NumOpen().has_value());
}

// No network of the machine's own: a site elsewhere is not judged, logged
// once, mailed never, and a round that could judge no site ends with 3; a
// site on this machine is checked as ever.
TEST_F(OrvalindTest, WithoutANetworkOnlySitesOnThisMachineAreJudged) {
    const std::string elsewhere = "http://192.0.2.1/status";  // no route to it in the namespace
    const std::string problem = InNamespaceWithoutNetwork([&] {
        SmtpSink sink;
        SetUpMail(sink);
        Monitor(1, elsewhere);

        const DaemonRun alone = RunOrvalind(folders, {"--once"});
        EXPECT_EQ(alone.status, 3) << alone.out << alone.err;
        EXPECT_EQ(FirstLine(alone.out),
                  "ORVALIN UNKNOWN - no site could be checked: no network | 'site2'=U;10000;;0");
        const auto printed = PrintedChecks(alone.out);
        ASSERT_EQ(printed.count(elsewhere), 1u) << alone.out;
        EXPECT_EQ(printed.find(elsewhere)->second.outcome, "no network");
        EXPECT_TRUE(std::regex_match(printed.find(elsewhere)->second.lastAccess,
                                     std::regex(std::string("no network") + kStampPattern)))
            << alone.out;
        EXPECT_EQ(UnstampedLines(ErrorLog()),
                  std::vector<std::string>{"No network: " + elsewhere + " not checked"});

        LoopbackServer local(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
        const std::string here = "http://" + local.HostAndPort() + "/";
        Monitor(0, here);
        const DaemonRun both = RunOrvalind(folders, {"--once"});
        EXPECT_EQ(both.status, 0) << both.out << both.err;
        EXPECT_TRUE(FirstLine(both.out).starts_with(
            "ORVALIN OK - 1 of 2 sites well, 1 not checked: no network | 'site1'="))
            << both.out;
        const auto checked = PrintedChecks(both.out);
        ASSERT_EQ(checked.count(here), 1u) << both.out;
        EXPECT_EQ(checked.find(here)->second.outcome, "success");
        EXPECT_EQ(checked.find(elsewhere)->second.outcome, "no network");
        EXPECT_EQ(local.Requests().size(), 1u);

        EXPECT_EQ(store.Read(key::kWarned, 1), 0);
        EXPECT_TRUE(sink.WaitForMessages(1, 2s).empty());
    });
    if (!problem.empty()) {
        GTEST_SKIP() << "not tested: " << problem;
    }
}

}  // namespace
}  // namespace orvalin::test
