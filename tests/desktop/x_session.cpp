#include "x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> EnvironmentStrings(const std::map<std::string, std::string>& env) {
    std::vector<std::string> strings;
    for (const auto& [name, value] : env) {
        strings.push_back(name + "=" + value);
    }
    return strings;
}

bool WaitForPath(const std::filesystem::path& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::filesystem::path& output, int keepFd, const std::filesystem::path& errors) {
    std::vector<std::string> args = argv;
    std::vector<std::string> envStrings = EnvironmentStrings(env);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(envStrings);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int err = errors.empty()
                        ? -1
                        : ::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err >= 0 ? err : out, STDERR_FILENO);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        if (keepFd >= 0) {
            ::fcntl(keepFd, F_SETFD, 0);
        }
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    for (const int fd : {out, err}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (pid_ < 0) {
        throw std::runtime_error("fork failed for " + argv.front());
    }
    ::setpgid(pid_, pid_);
}

Child::~Child() {
    Stop();
}

Child::Child(Child&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        Stop();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

int Child::Wait(std::chrono::milliseconds limit) {
    if (pid_ < 0) {
        return status_;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int raw = 0;
        const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            // Helpers it started in its group (dbus services) go with it.
            ::kill(-pid_, SIGTERM);
            pid_ = -1;
            return status_;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
}

void Child::Stop() {
    if (pid_ < 0) {
        return;
    }
    ::kill(-pid_, SIGTERM);
    if (Wait(3s) < 0) {
        ::kill(-pid_, SIGKILL);
        Wait(3s);
    }
}

XSession::XSession(XSessionOptions options) : home_(dir_ / "home") {
    for (const char* sub : {"config", "state", "runtime"}) {
        std::filesystem::create_directories(home_ / sub);
    }
    ::chmod((home_ / "runtime").c_str(), 0700);
    StartXvfb();
    StartBus();
    if (options.windowManager) {
        // Windows placed without asking, titles in the server's own font.
        const auto config = dir_ / "twmrc";
        std::ofstream(config) << "RandomPlacement\nUsePPosition \"on\"\nTitleFont \"fixed\"\n"
                                 "ResizeFont \"fixed\"\nMenuFont \"fixed\"\nIconFont \"fixed\"\n"
                                 "IconManagerFont \"fixed\"\n";
        auto env = Environment();
        env["LANG"] = "C";
        env.erase("LC_ALL");
        children_.emplace_back(std::vector<std::string>{"/usr/bin/twm", "-f", config.string()}, env,
                               dir_ / "twm.log");
    }
    if (options.notificationArea) {
        children_.push_back(
            Start({"/usr/bin/trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                   "--height", "24", "--SetDockType", "true", "--transparent", "false"},
                  "trayer.log"));
        // The tray is there once trayer owns its selection.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (Run({"/usr/bin/xdotool", "search", "--class", "trayer"}).empty() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
    }
}

XSession::~XSession() {
    // Last started, first stopped; the X server last.
    while (!children_.empty()) {
        children_.pop_back();
    }
}

void XSession::StartXvfb() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    children_.emplace_back(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen",
                                 "0", "1280x900x24", "-nolisten", "tcp"},
        env, dir_ / "xvfb.log", fds[1]);
    ::close(fds[1]);
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    while (::poll(&ready, 1, 10'000) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        throw std::runtime_error("Xvfb did not start");
    }
    display_ = std::stoi(number);
}

void XSession::StartBus() {
    const std::filesystem::path socket = dir_ / "bus";
    busAddress_ = "unix:path=" + socket.string();
    children_.push_back(Start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--address=" + busAddress_},
                              "dbus.log"));
    if (!WaitForPath(socket, 10s)) {
        throw std::runtime_error("dbus-daemon did not start");
    }
}

std::map<std::string, std::string> XSession::Environment() const {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env.erase("WAYLAND_DISPLAY");
    env["DISPLAY"] = Display();
    env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
    env["HOME"] = home_.string();
    env["XDG_CONFIG_HOME"] = (home_ / "config").string();
    env["XDG_STATE_HOME"] = (home_ / "state").string();
    env["XDG_RUNTIME_DIR"] = (home_ / "runtime").string();
    env["QT_QPA_PLATFORM"] = "xcb";
    env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
    env["NO_AT_BRIDGE"] = "1";  // trayer (GTK) stays off the accessibility bus
    return env;
}

Child XSession::Start(const std::vector<std::string>& argv, const std::string& logName) const {
    return Child(argv, Environment(), dir_ / logName);
}

std::string XSession::Run(const std::vector<std::string>& argv, int* status) const {
    const std::filesystem::path output = dir_ / "run.out";
    std::filesystem::remove(output);
    Child child(argv, Environment(), output, -1, dir_ / "run.err");
    const int result = child.Wait(30s);
    if (status != nullptr) {
        *status = result;
    }
    return ReadFileBytes(output);
}

}  // namespace orvalin::test
