#include "orvalind_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "support/temp_dir.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Passed on from the test's own environment: sanitizer settings and the time zone.
constexpr const char* kInherited[] = {
    "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "TZ", "PATH"};

std::vector<std::string> ChildEnvironment(const ChildFolders& folders) {
    std::vector<std::string> environment = {
        "XDG_CONFIG_HOME=" + folders.config.string(),
        "XDG_STATE_HOME=" + folders.state.string(),
        "XDG_RUNTIME_DIR=" + folders.runtime.string(),
        "HOME=" + folders.home.string(),
    };
    for (const char* name : kInherited) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : -1;
}

}  // namespace

OrvalindProcess::OrvalindProcess(const ChildFolders& folders, const std::vector<std::string>& args,
                                 const char* binary, const ChildOptions& options) {
    std::filesystem::create_directories(folders.output);
    std::filesystem::create_directories(folders.home);
    const std::string stamp = std::to_string(SteadyClock::now().time_since_epoch().count());
    outFile_ = folders.output / ("stdout-" + stamp);
    errFile_ = folders.output / ("stderr-" + stamp);

    // Everything the child needs is built before the fork: after it, the
    // child may only make async-signal-safe calls.
    std::vector<std::string> argvTexts = {binary};
    argvTexts.insert(argvTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = ChildEnvironment(folders);
    envTexts.insert(envTexts.end(), options.environment.begin(), options.environment.end());
    if (options.stderrIsJournal) {
        // The file the child opens as its standard error, made now to learn
        // its device and inode, as the service manager does for its stream.
        std::ofstream(errFile_).flush();
        struct stat info {};
        if (::stat(errFile_.c_str(), &info) != 0) {
            throw std::system_error(errno, std::generic_category(), "stat");
        }
        envTexts.push_back("JOURNAL_STREAM=" + std::to_string(info.st_dev) + ":" +
                           std::to_string(info.st_ino));
    }
    std::vector<char*> argv = Pointers(argvTexts);
    std::vector<char*> envp = Pointers(envTexts);
    const std::string outPath = outFile_.string();
    const std::string errPath = errFile_.string();
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
        if (::getppid() != parent) {
            ::_exit(126);
        }
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, STDIN_FILENO) < 0 ||
            ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) {
            ::_exit(126);
        }
        // The test's signal mask must not leak into the child's signal handling.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(binary, argv.data(), envp.data());
        ::_exit(127);
    }
}

OrvalindProcess::~OrvalindProcess() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        int ignored = 0;
        while (::waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
}

void OrvalindProcess::Signal(int signal) const {
    if (!status_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> OrvalindProcess::WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    while (!status_) {
        int waitStatus = 0;
        const pid_t done = ::waitpid(pid_, &waitStatus, WNOHANG);
        if (done == pid_) {
            status_ = StatusOf(waitStatus);
            break;
        }
        if (done < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waitpid");
        }
        if (SteadyClock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    return status_;
}

bool OrvalindProcess::WaitForOutput(const std::string& text,
                                    std::chrono::milliseconds limit) const {
    const auto deadline = SteadyClock::now() + limit;
    while (Out().find(text) == std::string::npos) {
        if (SteadyClock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string OrvalindProcess::Out() const {
    return ReadFileBytes(outFile_);
}

std::string OrvalindProcess::Err() const {
    return ReadFileBytes(errFile_);
}

DaemonRun RunSettingsTool(const ChildFolders& folders, const std::vector<std::string>& args) {
    OrvalindProcess process(folders, args, OrvalindProcess::kSettingsTool);
    DaemonRun run;
    run.status = process.WaitForExit(std::chrono::seconds(30)).value_or(-1);
    run.out = process.Out();
    run.err = process.Err();
    return run;
}

std::map<std::string, long> ThreadSwitches(pid_t pid) {
    std::map<std::string, long> switches;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::istringstream status(ReadFileBytes(task.path() / "status"));
        long& count = switches[task.path().filename().string()];
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                count += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return switches;
}

DaemonRun RunOrvalind(const ChildFolders& folders, const std::vector<std::string>& args,
                      std::chrono::milliseconds limit, const ChildOptions& options) {
    OrvalindProcess process(folders, args, OrvalindProcess::kBinary, options);
    DaemonRun run;
    run.status = process.WaitForExit(limit).value_or(-1);
    run.out = process.Out();
    run.err = process.Err();
    return run;
}

}  // namespace orvalin::test
