// Runs the built orvalin-settings program against a store in a temporary
// XDG_CONFIG_HOME and checks its output and exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "resources/strings.h"
#include "settings/settings_store.h"
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

    ToolRun Run(std::vector<std::string> args) const {
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

TEST_F(SettingsToolTest, ADroppedWriteIsReportedWithExitOne) {
    // A folder where the database should be: the store cannot be opened.
    fs::create_directories(dbFile);
    for (const std::string command : {"set-int", "set-string"}) {
        const ToolRun run = Run({command, std::string(kSettings), "Key", "1"});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find(text::kToolWriteFailed), std::string::npos) << command;
    }
    EXPECT_TRUE(fs::is_empty(dbFile));
}

}  // namespace
}  // namespace orvalin
