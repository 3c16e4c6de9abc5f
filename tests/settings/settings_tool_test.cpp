// Runs the built orvalin-settings program against a store in a temporary
// XDG_CONFIG_HOME and checks its output and exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "resources/strings.h"
#include "settings/settings_store.h"
#include "store_fixtures.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;
using section::kLocation;
using section::kSettings;
using test::ReadFileBytes;
using test::TempDir;

constexpr const char* kTool = ORVALIN_SETTINGS_PATH;

struct ToolRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

class SettingsToolTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path config = dir / "config";
    fs::path dbFile = config / "Quenbridge" / "Orvalin" / "settings.db";
    SettingsStore store{dbFile};

    // unprivileged: run as a user that permission bits apply to.
    ToolRun Run(std::vector<std::string> args, bool unprivileged = false) const {
        const fs::path outFile = dir / "stdout";
        const fs::path errFile = dir / "stderr";
        std::vector<char*> argv;
        std::string program = kTool;
        argv.push_back(program.data());
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        const pid_t child = ::fork();
        if (child == 0) {
            const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
                ::_exit(126);
            }
            if (unprivileged && !test::DropRootForFilesUnder(dir.Path(), dbFile.parent_path())) {
                ::_exit(125);
            }
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            ::setenv("HOME", (dir / "home").c_str(), 1);
            ::execv(kTool, argv.data());
            ::_exit(127);
        }
        ToolRun run;
        int status = 0;
        if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            run.status = WEXITSTATUS(status);
        }
        run.out = ReadFileBytes(outFile);
        run.err = ReadFileBytes(errFile);
        return run;
    }
};

TEST_F(SettingsToolTest, HelpPrintsUsageAndTheStorePath) {
    const ToolRun run = Run({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find(text::kToolUsage), std::string::npos);
    EXPECT_NE(run.out.find(dbFile.string()), std::string::npos);
    EXPECT_EQ(run.err, "");
}

// The README's examples work as written, in their order, on a new store.
TEST_F(SettingsToolTest, EveryReadmeExampleRuns) {
    std::istringstream readme(
        ReadFileBytes(fs::path(ORVALIN_TEST_SOURCE_DIR) / ".." / "README.md"));
    int examples = 0;
    for (std::string line; std::getline(readme, line);) {
        if (!line.starts_with("orvalin-settings ")) {
            continue;
        }
        std::istringstream words(line.substr(0, line.find(" #")));
        std::vector<std::string> args;
        for (std::string word; words >> word;) {
            args.push_back(word);
        }
        args.erase(args.begin());
        const ToolRun run = Run(args);
        EXPECT_EQ(run.status, 0) << line << "\n" << run.err;
        ++examples;
    }
    EXPECT_GE(examples, 9);
    EXPECT_EQ(store.ReadString("Settings", "SMTP", ""), "smtp.example.org:587");
    EXPECT_TRUE(Run({"sites"}).out.starts_with("1\t(none)\t15\t10000\n"));
}

TEST_F(SettingsToolTest, WrongCallsPrintUsageAndExitTwo) {
    const std::vector<std::vector<std::string>> calls = {
        {},
        {"frob"},
        {"list", "extra"},
        {"get", "Settings"},
        {"get", "Settings", "a", "b"},
        {"set-int", "Settings", "a"},
        {"set-string", "Settings", "a"},
        {"set-string", "Settings", "a", "b", "c"},
        {"--help", "list"},
    };
    for (const auto& call : calls) {
        const ToolRun run = Run(call);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(call);
        EXPECT_EQ(run.out, "") << testing::PrintToString(call);
        EXPECT_EQ(run.err, text::kToolUsage) << testing::PrintToString(call);
    }
    EXPECT_FALSE(fs::exists(dir / "config"));
}

TEST_F(SettingsToolTest, SetIntTakesOnlyA32BitDecimalNumber) {
    for (const std::string bad : {"12x", "2147483648", "-2147483649", "", "abc", " 5", "5 ", "0x10",
                                  "+-5", "+", "-", "1.5", "99999999999999999999"}) {
        const ToolRun run = Run({"set-int", std::string(kSettings), "Number", bad});
        EXPECT_EQ(run.status, 2) << '"' << bad << '"';
        EXPECT_NE(run.err.find(text::kToolNotANumber), std::string::npos) << bad;
    }
    EXPECT_FALSE(fs::exists(dbFile));

    const std::vector<std::pair<std::string, std::int32_t>> good = {
        {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}, {"+7", 7}, {"0", 0}, {"-15", -15}};
    for (const auto& [textual, number] : good) {
        const ToolRun run = Run({"set-int", std::string(kSettings), "Number", textual});
        EXPECT_EQ(run.status, 0) << textual << run.err;
        EXPECT_EQ(store.ReadInt(kSettings, "Number", 12345), number);
        EXPECT_EQ(Run({"get", std::string(kSettings), "Number"}).out,
                  std::to_string(number) + "\n");
    }
}

TEST_F(SettingsToolTest, ValuesWrittenByTheToolReachTheStoreAndBack) {
    const std::string interval = SiteKey(key::kInterval.base, 0);
    EXPECT_EQ(Run({"set-int", std::string(kSettings), interval, "30"}).status, 0);
    EXPECT_EQ(store.Read(key::kInterval, 0), 30);

    // An empty text is held as such, not as a missing value.
    EXPECT_EQ(
        Run({"set-string", std::string(kSettings), std::string(key::kSmtpName.name), ""}).status,
        0);
    EXPECT_EQ(store.Read(key::kSmtpName), "");
    ToolRun run = Run({"get", std::string(kSettings), std::string(key::kSmtpName.name)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\n");

    const std::string text = "Grüße\nzweite Zeile\twith a tab";
    EXPECT_EQ(Run({"set-string", std::string(kLocation), "note", text}).status, 0);
    EXPECT_EQ(store.ReadString(kLocation, "note", ""), text);
    EXPECT_EQ(Run({"get", std::string(kLocation), "note"}).out, text + "\n");

    // A string replaces the integer of that key.
    EXPECT_EQ(Run({"set-string", std::string(kSettings), interval, "fast"}).status, 0);
    EXPECT_EQ(store.Read(key::kInterval, 0), 15);

    // The tool follows XDG_CONFIG_HOME only; nothing went to the home folder.
    EXPECT_FALSE(fs::exists(dir / "home"));
}

TEST_F(SettingsToolTest, GetOfAMissingValuePrintsNothingAndExitsOne) {
    ToolRun run = Run({"get", std::string(kSettings), "absent"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(dbFile));

    ASSERT_TRUE(store.WriteInt(kSettings, "present", 1));
    run = Run({"get", std::string(kLocation), "present"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
}

TEST_F(SettingsToolTest, ListPrintsEveryValueTabSeparatedInOrder) {
    ToolRun run = Run({"list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(dbFile));

    ASSERT_TRUE(store.Write(key::kSmtpName, "Monitor Mail"));
    ASSERT_TRUE(store.Write(key::kInterval, 0, 15));
    ASSERT_TRUE(store.WriteString(kLocation, "place", "two words"));
    ASSERT_TRUE(store.Write(key::kLocX, -32));
    run = Run({"list"});
    EXPECT_EQ(run.status, 0);
    const std::string settings(kSettings);
    EXPECT_EQ(run.out, std::string(kLocation) + "\tplace\tstring\ttwo words\n" +  //
                           settings + "\t" + SiteKey(key::kInterval.base, 0) + "\tint\t15\n" +
                           settings + "\t" + std::string(key::kLocX.name) + "\tint\t-32\n" +
                           settings + "\t" + std::string(key::kSmtpName.name) +
                           "\tstring\tMonitor Mail\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(SettingsToolTest, ListHidesTheMailPasswordUnlessAskedToShowIt) {
    ASSERT_TRUE(store.Write(key::kSmtpPassword, "s3cret\tpass"));
    EXPECT_EQ(Run({"list"}).out, "Settings\tSMTPPassword\tstring\t********\n");
    EXPECT_EQ(Run({"list", "--show-secrets"}).out,
              "Settings\tSMTPPassword\tstring\ts3cret\\tpass\n");
    EXPECT_EQ(Run({"list", "--show-secret"}).status, 2);
    EXPECT_NE(Run({"--help"}).out.find("--show-secrets"), std::string::npos);
}

TEST_F(SettingsToolTest, ADroppedWriteIsReportedWithExitOne) {
    ASSERT_TRUE(store.Write(key::kInterval, 0, 15));
    ASSERT_TRUE(test::RunSql(dbFile,
                             "CREATE TRIGGER refuse BEFORE INSERT ON setting"
                             " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    const std::vector<std::vector<std::string>> writes = {
        {"set-int", "Settings", "Key", "1"},
        {"set-string", "Settings", "Key", "1"},
        {"site", "2", "http://127.0.0.1/"},
        {"remove-site", "2"},
    };
    for (const auto& write : writes) {
        const ToolRun run = Run(write);
        EXPECT_EQ(run.status, 1) << write[0];
        EXPECT_EQ(run.err,
                  "orvalin-settings: the value could not be stored in " + dbFile.string() + "\n")
            << write[0];
    }
    EXPECT_EQ(store.List().size(), 1u);
}

// Every command, with arguments it would accept.
const std::vector<std::vector<std::string>> kEveryCommand = {
    {"list"},
    {"get", "Settings", "Interval0"},
    {"set-int", "Settings", "Interval0", "20"},
    {"set-string", "Settings", "SMTP", "mail.example.test"},
    {"site", "1", "http://127.0.0.1/", "5", "100"},
    {"remove-site", "1"},
    {"sites"},
};

TEST_F(SettingsToolTest, EveryCommandExitsThreeWithTheReasonWhenTheStoreCannotBeRead) {
    fs::create_directories(dbFile.parent_path());
    const std::string notADatabase = "[Settings]\nInterval0=30\n";
    {
        std::ofstream out(dbFile);
        out << notADatabase;
    }
    for (const auto& command : kEveryCommand) {
        const ToolRun run = Run(command);
        EXPECT_EQ(run.status, 3) << command[0];
        EXPECT_EQ(run.out, "") << command[0];
        EXPECT_EQ(run.err, "orvalin-settings: the settings store cannot be read: " +
                               dbFile.string() + ": file is not a database\n")
            << command[0];
    }
    EXPECT_EQ(ReadFileBytes(dbFile), notADatabase);

    // A folder where the database should be.
    fs::remove(dbFile);
    fs::create_directory(dbFile);
    for (const auto& command : kEveryCommand) {
        const ToolRun run = Run(command);
        EXPECT_EQ(run.status, 3) << command[0];
        EXPECT_NE(run.err.find(": not a regular file\n"), std::string::npos) << command[0];
    }
    EXPECT_TRUE(fs::is_empty(dbFile));
}

TEST_F(SettingsToolTest, AStoreWithoutReadPermissionOrLockedIsReportedNotListedEmpty) {
    {
        // Closed at once: the lock below needs the file to itself.
        SettingsStore writer(dbFile);
        ASSERT_TRUE(writer.Write(key::kLastWebsite, 0, "http://127.0.0.1/"));
    }
    fs::permissions(dbFile, fs::perms::none);
    ToolRun run = Run({"list"}, true);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(": permission denied\n"), std::string::npos) << run.err;
    fs::permissions(dbFile, fs::perms::owner_read | fs::perms::owner_write);

    // Held exclusively by another process for longer than the tool waits.
    test::ExclusiveLockHolder lock(dbFile);
    ASSERT_TRUE(lock.Holding());
    run = Run({"sites"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(": database is locked\n"), std::string::npos) << run.err;
    lock.Release();
    EXPECT_EQ(Run({"get", "Settings", "lastWebsite0"}).out, "http://127.0.0.1/\n");
}

TEST_F(SettingsToolTest, ListAndSitesEscapeSoAValueCannotFakeRecords) {
    ASSERT_TRUE(store.WriteString("Sec\ttion", "k\\ey\n", "a\tb\nSettings\tfake\tint\t1\r\\"));
    ASSERT_TRUE(store.WriteString("Settings", "lastWebsite1", "http://x.test/\n2\tfake"));
    ToolRun run = Run({"list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "Sec\\ttion\tk\\\\ey\\n\tstring\ta\\tb\\nSettings\\tfake\\tint\\t1\\r\\\\\n"
              "Settings\tlastWebsite1\tstring\thttp://x.test/\\n2\\tfake\n");
    run = Run({"sites"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "1\t(none)\t15\t10000\n"
              "2\thttp://x.test/\\n2\\tfake\t15\t10000\n"
              "3\t(none)\t15\t10000\n"
              "4\t(none)\t15\t10000\n");
    // get gives the value as it is held.
    EXPECT_EQ(Run({"get", "Settings", "lastWebsite1"}).out, "http://x.test/\n2\tfake\n");

    const std::string help = Run({"--help"}).out;
    EXPECT_NE(help.find("\\t"), std::string::npos);
    EXPECT_NE(help.find("3 the settings store cannot be read"), std::string::npos);
}

TEST_F(SettingsToolTest, SiteWritesWhatThePanelWritesWhenAnAddressIsPolled) {
    ToolRun run = Run({"site", "1", "  http://127.0.0.1:8080/ \t"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(store.ReadString("Settings", "lastWebsite0", "-"), "http://127.0.0.1:8080/");
    EXPECT_EQ(store.ReadString("Settings", "lastWebsiteTitle0", "-"), "http://127.0.0.1:8080/");
    EXPECT_EQ(store.ReadInt("Settings", "Warned0", -1), 0);
    EXPECT_EQ(store.ReadString("Settings", "lastAlert0", "-"), "");
    EXPECT_EQ(store.ReadString("Settings", "lastRecovery0", "-"), "");
    // Interval and threshold only when given.
    EXPECT_FALSE(store.Get("Settings", "Interval0"));
    EXPECT_FALSE(store.Get("Settings", "Warn0"));

    EXPECT_EQ(Run({"site", "4", "http://b.test/", "5", "250"}).status, 0);
    EXPECT_EQ(Run({"site", "2", "c.test", "1", "0"}).status, 0);
    EXPECT_EQ(store.ReadInt("Settings", "Interval3", -1), 5);
    EXPECT_EQ(store.ReadInt("Settings", "Warn3", -1), 250);
    EXPECT_EQ(store.ReadInt("Settings", "Interval1", -1), 1);
    EXPECT_EQ(store.ReadInt("Settings", "Warn1", -1), 0);
    EXPECT_FALSE(store.Get("Settings", "Warn2"));

    run = Run({"sites"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "1\thttp://127.0.0.1:8080/\t15\t10000\n"
              "2\tc.test\t1\t0\n"
              "3\t(none)\t15\t10000\n"
              "4\thttp://b.test/\t5\t250\n");
}

TEST_F(SettingsToolTest, ANewAddressClearsTheAlertStateTheSameOneKeepsIt) {
    ASSERT_TRUE(store.Write(SettingsBatch()
                                .SetString("Settings", "lastWebsite0", "http://a.test/")
                                .SetString("Settings", "lastWebsiteTitle0", "http://a.test/")
                                .SetInt("Settings", "Warned0", 1)
                                .SetString("Settings", "lastAlert0", " on 03/14/2004 at 09:05:07")
                                .SetString("Settings", "lastRecovery0", "earlier")));
    EXPECT_EQ(Run({"site", "1", "http://a.test/", "20"}).status, 0);
    EXPECT_EQ(store.ReadInt("Settings", "Warned0", -1), 1);
    EXPECT_EQ(store.ReadString("Settings", "lastAlert0", ""), " on 03/14/2004 at 09:05:07");
    EXPECT_EQ(store.ReadInt("Settings", "Interval0", -1), 20);

    EXPECT_EQ(Run({"site", "1", "http://b.test/"}).status, 0);
    EXPECT_EQ(store.ReadInt("Settings", "Warned0", -1), 0);
    EXPECT_EQ(store.ReadString("Settings", "lastAlert0", "-"), "");
    EXPECT_EQ(store.ReadString("Settings", "lastRecovery0", "-"), "");
    EXPECT_EQ(store.ReadString("Settings", "lastWebsiteTitle0", ""), "http://b.test/");
    EXPECT_EQ(store.ReadInt("Settings", "Interval0", -1), 20);
}

TEST_F(SettingsToolTest, RemoveSiteClearsWhatARemovalClearsAndKeepsIntervalAndThreshold) {
    ASSERT_TRUE(store.Write(SettingsBatch()
                                .SetString("Settings", "lastWebsite2", "http://c.test/")
                                .SetString("Settings", "lastWebsiteTitle2", "http://c.test/")
                                .SetInt("Settings", "Warned2", 1)
                                .SetString("Settings", "lastAlert2", "alert")
                                .SetString("Settings", "lastRecovery2", "recovery")
                                .SetInt("Settings", "Interval2", 7)
                                .SetInt("Settings", "Warn2", 300)
                                .SetString("Settings", "lastWebsite1", "http://other.test/")));
    const ToolRun run = Run({"remove-site", "3"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    for (const char* emptied :
         {"lastWebsite2", "lastWebsiteTitle2", "lastAlert2", "lastRecovery2"}) {
        EXPECT_EQ(store.ReadString("Settings", emptied, "-"), "") << emptied;
    }
    EXPECT_EQ(store.ReadInt("Settings", "Warned2", -1), 0);
    EXPECT_EQ(store.ReadInt("Settings", "Interval2", -1), 7);
    EXPECT_EQ(store.ReadInt("Settings", "Warn2", -1), 300);
    EXPECT_EQ(store.ReadString("Settings", "lastWebsite1", ""), "http://other.test/");
    EXPECT_EQ(Run({"sites"}).out,
              "1\t(none)\t15\t10000\n"
              "2\thttp://other.test/\t15\t10000\n"
              "3\t(none)\t7\t300\n"
              "4\t(none)\t15\t10000\n");
}

TEST_F(SettingsToolTest, ABadSlotAddressIntervalOrThresholdChangesNothing) {
    struct BadCall {
        std::vector<std::string> args;
        std::string complaint;
    };
    const std::string slot = "orvalin-settings: the slot must be 1, 2, 3 or 4";
    const std::string interval = "orvalin-settings: the interval must be a whole number of minutes";
    const std::string threshold = "orvalin-settings: the warning threshold must be a whole number";
    const std::string scheme =
        "orvalin-settings: the address must begin with http:// or https://, or with the host "
        "name: ";
    const std::string blank = "orvalin-settings: the address holds a blank";
    const std::string control = "orvalin-settings: the address holds a control character";
    const std::string noHost = "orvalin-settings: the address names no host: ";
    const std::vector<BadCall> calls = {
        {{"site", "0", "http://a.test/"}, slot},
        {{"site", "5", "http://a.test/"}, slot},
        {{"site", "one", "http://a.test/"}, slot},
        {{"site", "", "http://a.test/"}, slot},
        {{"remove-site", "0"}, slot},
        {{"remove-site", "-1"}, slot},
        {{"remove-site", "4x"}, slot},
        {{"site", "1", ""}, "orvalin-settings: the address is empty"},
        {{"site", "1", " \t "}, "orvalin-settings: the address is empty"},
        {{"site", "1", "http://a.test/", "0"}, interval},
        {{"site", "1", "http://a.test/", "-5"}, interval},
        {{"site", "1", "http://a.test/", "ten"}, interval},
        {{"site", "1", "http://a.test/", "2147483648"}, interval},
        {{"site", "1", "http://a.test/", "5", "-1"}, threshold},
        {{"site", "1", "http://a.test/", "5", "1.5"}, threshold},
        {{"site", "1", "http://a.test/", "5", ""}, threshold},
        {{"site", "1", "http://a.test/", "0", "100"}, interval},
        {{"site", "1", "ftp://a.test/"}, scheme},
        {{"site", "1", "not a url"}, blank},
        {{"site", "1", "http://a.test/\x1b[31m"}, control},
        {{"site", "1", "http://"}, noHost},
    };
    for (const BadCall& call : calls) {
        const ToolRun run = Run(call.args);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(call.args);
        EXPECT_EQ(run.out, "") << testing::PrintToString(call.args);
        EXPECT_EQ(run.err.rfind(call.complaint, 0), 0u)
            << testing::PrintToString(call.args) << run.err;
    }
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"site"},
                                                  {"site", "1"},
                                                  {"site", "1", "a", "2", "3", "4"},
                                                  {"remove-site"},
                                                  {"remove-site", "1", "2"},
                                                  {"sites", "1"}}) {
        const ToolRun run = Run(wrong);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(wrong);
        EXPECT_EQ(run.err, text::kToolUsage) << testing::PrintToString(wrong);
    }
    EXPECT_FALSE(fs::exists(dbFile));

    // With a site stored, a refused call leaves every value as it was.
    ASSERT_EQ(Run({"site", "1", "http://kept.test/", "9", "900"}).status, 0);
    const std::vector<StoredValue> before = store.List();
    for (const BadCall& call : calls) {
        EXPECT_EQ(Run(call.args).status, 2);
    }
    EXPECT_EQ(store.List(), before);
    // The complaint shows a control character as an escape.
    EXPECT_EQ(Run({"site", "1", "http://a.test/\x1b[31m"}).err,
              "orvalin-settings: the address holds a control character (a line break, TAB or "
              "escape): \"http://a.test/\\x1B[31m\"\n");

    // What a check can use: either scheme in any case, a bare host, an IPv6
    // address, "://" inside a query.
    for (const std::string good : {"HTTPS://a.test/", "a.test", "a.test:8080/x?to=ftp://b.test/",
                                   "[::1]:8080/", "::1", "http://user@a.test/%20x"}) {
        EXPECT_EQ(Run({"site", "2", good}).status, 0) << good;
        EXPECT_EQ(store.Read(key::kLastWebsite, 1), good);
    }
}

}  // namespace
}  // namespace orvalin
