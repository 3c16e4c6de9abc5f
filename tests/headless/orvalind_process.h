// The built orvalind as a child process of a test: its own settings, state,
// runtime and home folders under one temporary folder, its standard output
// and error captured in files there.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvalin::test {

// The folders a child sees through its environment, all under root.
struct ChildFolders {
    explicit ChildFolders(const std::filesystem::path& root)
        : config(root / "config"),
          state(root / "state"),
          runtime(root / "runtime"),
          home(root / "home"),
          output(root / "output") {}

    std::filesystem::path config;   // XDG_CONFIG_HOME
    std::filesystem::path state;    // XDG_STATE_HOME
    std::filesystem::path runtime;  // XDG_RUNTIME_DIR
    std::filesystem::path home;     // HOME
    std::filesystem::path output;   // the captured standard output and error
};

// What a child gets besides its folders.
struct ChildOptions {
    std::vector<std::string> environment;  // NAME=VALUE, added to the child's
    bool stderrIsJournal = false;          // JOURNAL_STREAM names its standard error
};

class OrvalindProcess {
  public:
    static constexpr const char* kBinary = ORVALIND_PATH;
    static constexpr const char* kSettingsTool = ORVALIN_SETTINGS_PATH;

    // Starts orvalind (or another of the programs) with args. Throws
    // std::runtime_error when it cannot.
    OrvalindProcess(const ChildFolders& folders, const std::vector<std::string>& args,
                    const char* binary = kBinary, const ChildOptions& options = {});
    // Kills the child when it still runs.
    ~OrvalindProcess();
    OrvalindProcess(const OrvalindProcess&) = delete;
    OrvalindProcess& operator=(const OrvalindProcess&) = delete;

    void Signal(int signal) const;
    // The exit status once the child has ended within limit: its exit code,
    // or 128 + the signal that ended it. Nothing when it still runs.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);
    // Waits until the standard output holds text or the limit passes.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const;

    std::string Out() const;
    std::string Err() const;
    pid_t Pid() const { return pid_; }

  private:
    std::filesystem::path outFile_;
    std::filesystem::path errFile_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// One whole run of orvalind.
struct DaemonRun {
    int status = -1;  // as WaitForExit; -1 when it had to be killed
    std::string out;
    std::string err;
};

// Runs orvalind to its end; a child still running after limit is killed.
DaemonRun RunOrvalind(const ChildFolders& folders, const std::vector<std::string>& args,
                      std::chrono::milliseconds limit = std::chrono::seconds(60),
                      const ChildOptions& options = {});
// Runs orvalin-settings to its end in the same folders.
DaemonRun RunSettingsTool(const ChildFolders& folders, const std::vector<std::string>& args);

// The context switches of each thread of a running process so far, by
// thread id: one more for every time a thread woke up or was preempted.
std::map<std::string, long> ThreadSwitches(pid_t pid);

}  // namespace orvalin::test
