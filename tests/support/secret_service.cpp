#include "support/secret_service.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

// Starts argv with env, its standard input fed from input, its output and
// errors into log; the child's pid, or -1.
pid_t Spawn(std::vector<std::string> argv, std::vector<std::string> env, const std::string& input,
            const std::filesystem::path& log) {
    int feed[2];
    if (::pipe(feed) != 0) {
        return -1;
    }
    std::vector<char*> args;
    for (auto& text : argv) {
        args.push_back(text.data());
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& text : env) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    const std::string logPath = log.string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out < 0 || ::dup2(feed[0], STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
            ::dup2(out, STDERR_FILENO) < 0) {
            ::_exit(126);
        }
        ::close(feed[1]);
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(feed[0]);
    if (pid > 0 && !input.empty()) {
        [[maybe_unused]] const ssize_t written = ::write(feed[1], input.data(), input.size());
    }
    ::close(feed[1]);
    return pid;
}

void Stop(pid_t& pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
        pid = -1;
    }
}

// True once pid has ended; it is reaped then and reads -1.
bool Exited(pid_t& pid) {
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
    }
    return pid <= 0;
}

}  // namespace

SecretService::SecretService(bool withKeyring) {
    if (StartBus() && withKeyring) {
        StartKeyring();
    }
}

SecretService::~SecretService() {
    Stop(keyringPid_);
    Stop(busPid_);
}

bool SecretService::StartBus() {
    // A session bus that starts no service by itself: the system's session
    // configuration would start gnome-keyring-daemon on the first call.
    const std::filesystem::path config = folder_ / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:path="
                          << (folder_ / "bus").string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                             "</busconfig>\n";
    const std::filesystem::path addressFile = folder_ / "bus-address";
    busPid_ = Spawn({"dbus-daemon", "--config-file=" + config.string(), "--nofork", "--nosyslog",
                     "--print-address=1"},
                    {"PATH=/usr/bin:/bin"}, {}, addressFile);
    for (int i = 0; i < 100 && !Exited(busPid_); ++i) {
        std::string printed = ReadFileBytes(addressFile);
        if (const auto end = printed.find('\n'); end != std::string::npos) {
            busAddress_ = printed.substr(0, end);
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    Stop(busPid_);
    problem_ = "dbus-daemon did not start: " + ReadFileBytes(addressFile);
    return false;
}

// The keyring's files go under the folder; "--unlock" creates the login
// keyring with the password on standard input.
bool SecretService::StartKeyring() {
    const std::filesystem::path log = folder_ / "keyring.log";
    std::filesystem::create_directories(folder_ / "home");
    std::filesystem::create_directories(folder_ / "runtime");
    std::filesystem::permissions(folder_ / "runtime", std::filesystem::perms::owner_all);
    keyringPid_ = Spawn(
        {"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
        {"PATH=/usr/bin:/bin", "DBUS_SESSION_BUS_ADDRESS=" + busAddress_,
         "HOME=" + (folder_ / "home").string(), "XDG_DATA_HOME=" + (folder_ / "home").string(),
         "XDG_RUNTIME_DIR=" + (folder_ / "runtime").string()},
        "orvalin-test", log);
    // Ready once it owns its name on the bus.
    const std::string ask =
        "dbus-send --session --print-reply --dest=org.freedesktop.DBus "
        "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "
        "string:org.freedesktop.secrets 2>/dev/null";
    for (int i = 0; i < 100 && !Exited(keyringPid_); ++i) {
        ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", busAddress_);
        if (FILE* reply = ::popen(ask.c_str(), "r")) {
            char text[512] = {};
            const std::size_t read = std::fread(text, 1, sizeof text - 1, reply);
            ::pclose(reply);
            if (std::string(text, read).find("boolean true") != std::string::npos) {
                return true;
            }
        }
        std::this_thread::sleep_for(50ms);
    }
    Stop(keyringPid_);
    problem_ = "gnome-keyring-daemon did not start: " + ReadFileBytes(log);
    return false;
}

}  // namespace orvalin::test
