// desktop_startup: how fast the desktop program opens and how quiet it is.
// On a private Xvfb display (with trayer as notification area when
// installed) it starts orvalin with four sites on a loopback HTTP server and
// measures
//   - the time from starting the program to its main window being mapped
//     (median of several starts),
//   - the resident memory after the first checks of all four sites,
//   - the CPU time and the thread wake-ups (context switches) over one idle
//     minute, in which no timer is due.
// Goals: window within 400 ms, at most 60 MB resident, CPU time over the idle
// minute near zero (under 100 ms). Exits 1 when a goal is missed.
//
//   desktop_startup [--quick] [--runs N] [--idle SECONDS] [--program PATH]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings_store.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr double kStartGoalMs = 400.0;
constexpr double kMemoryGoalMb = 60.0;
constexpr double kIdleCpuGoalMs = 100.0;

// A loopback HTTP server answering every request with 200 at once.
class TinyServer {
  public:
    TinyServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 16);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TinyServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    int Port() const { return port_; }

  private:
    void Serve() {
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 200) <= 0) {
                continue;
            }
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            char buffer[1024];
            ::recv(client, buffer, sizeof buffer, 0);
            const char reply[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
            ::send(client, reply, sizeof reply - 1, MSG_NOSIGNAL);
            ::close(client);
        }
    }
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            int keepFd = -1) {
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : env) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> args, envp;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        if (keepFd >= 0) {
            ::fcntl(keepFd, F_SETFD, 0);
        }
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(-pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(25ms);
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

std::map<std::string, std::string> CurrentEnvironment() {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    return env;
}

// Starts Xvfb on a free display; its number.
int StartXvfb(pid_t& pid) {
    int fds[2];
    ::pipe2(fds, O_CLOEXEC);
    pid = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                 "1280x900x24", "-nolisten", "tcp"},
                CurrentEnvironment(), fds[1]);
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
    return number.empty() ? -1 : std::stoi(number);
}

// Waits for a top-level window titled "Orvalin" to be mapped; the moment, or
// nothing when the limit passes.
bool WaitForMappedWindow(xcb_connection_t* x, Clock::time_point deadline,
                         Clock::time_point& mapped) {
    const int fd = xcb_get_file_descriptor(x);
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            const bool isMap = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            const xcb_window_t window =
                isMap ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
            std::free(event);
            if (!isMap) {
                continue;
            }
            const auto now = Clock::now();
            xcb_get_property_reply_t* name = xcb_get_property_reply(
                x, xcb_get_property(x, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 64), nullptr);
            std::string title;
            if (name != nullptr) {
                title.assign(static_cast<const char*>(xcb_get_property_value(name)),
                             static_cast<std::size_t>(xcb_get_property_value_length(name)));
                std::free(name);
            }
            if (title == "Orvalin") {
                mapped = now;
                return true;
            }
        }
        pollfd ready{fd, POLLIN, 0};
        ::poll(&ready, 1, 20);
    }
    return false;
}

struct Usage {
    double cpuMs = 0;
    std::map<std::string, long> switchesByThread;
};

// Context switches between two readings of the threads alive at both, and
// how many threads ended in between (an idle pool thread retiring).
std::pair<long, int> Wakeups(const Usage& before, const Usage& after) {
    long switches = 0;
    int ended = 0;
    for (const auto& [thread, count] : before.switchesByThread) {
        const auto later = after.switchesByThread.find(thread);
        if (later == after.switchesByThread.end()) {
            ++ended;
        } else {
            switches += later->second - count;
        }
    }
    return {switches, ended};
}

Usage ReadUsage(pid_t pid) {
    Usage usage;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    std::vector<std::string> values;
    while (fields >> field) {
        values.push_back(field);
    }
    if (values.size() > 13) {
        const double ticks = std::stod(values[11]) + std::stod(values[12]);  // utime, stime
        usage.cpuMs = ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream status(task.path() / "status");
        long& switches = usage.switchesByThread[task.path().filename().string()];
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                switches += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return usage;
}

double ResidentMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    int idleSeconds = 60;
    fs::path program = fs::path(argv[0]).parent_path() / "orvalin";
    for (int a = 1; a < argc; ++a) {
        const std::string option = argv[a];
        if (option == "--quick") {
            runs = 3;
            idleSeconds = 10;
        } else if (option == "--runs" && a + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++a]));
        } else if (option == "--idle" && a + 1 < argc) {
            idleSeconds = std::max(1, std::atoi(argv[++a]));
        } else if (option == "--program" && a + 1 < argc) {
            program = argv[++a];
        } else {
            std::cerr << "usage: desktop_startup [--quick] [--runs N] [--idle SECONDS] "
                         "[--program PATH]\n";
            return 64;
        }
    }
    if (!fs::exists(program)) {
        std::cerr << "desktop_startup: no program at " << program << '\n';
        return 2;
    }

    const fs::path home =
        fs::temp_directory_path() / ("orvalin-bench-" + std::to_string(::getpid()));
    for (const char* sub : {"config", "state", "runtime"}) {
        fs::create_directories(home / sub);
    }
    ::chmod((home / "runtime").c_str(), 0700);

    pid_t xvfb = -1;
    const int display = StartXvfb(xvfb);
    if (display < 0) {
        std::cerr << "desktop_startup: Xvfb did not start\n";
        return 2;
    }
    auto env = CurrentEnvironment();
    env.erase("WAYLAND_DISPLAY");
    env["DISPLAY"] = ":" + std::to_string(display);
    env["HOME"] = home.string();
    env["XDG_CONFIG_HOME"] = (home / "config").string();
    env["XDG_STATE_HOME"] = (home / "state").string();
    env["XDG_RUNTIME_DIR"] = (home / "runtime").string();
    env["QT_QPA_PLATFORM"] = "xcb";
    env.erase("DBUS_SESSION_BUS_ADDRESS");
    const bool withTray = fs::exists("/usr/bin/trayer");
    pid_t trayer = -1;
    if (withTray) {
        trayer = Spawn(
            {"/usr/bin/trayer", "--edge", "top", "--align", "right", "--SetDockType", "true"}, env);
        std::this_thread::sleep_for(700ms);
    }

    TinyServer server;
    orvalin::SettingsStore store(home / "config/Quenbridge/Orvalin/settings.db");
    store.WriteString("Settings", "SMTP", "127.0.0.1:9");
    store.WriteInt("Settings", "DisableEmails", 1);
    for (int i = 0; i < 4; ++i) {
        const std::string url =
            "http://127.0.0.1:" + std::to_string(server.Port()) + "/site" + std::to_string(i);
        store.WriteString("Settings", "lastWebsite" + std::to_string(i), url);
        store.WriteString("Settings", "lastWebsiteTitle" + std::to_string(i), url);
    }

    xcb_connection_t* x = xcb_connect(env["DISPLAY"].c_str(), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    std::vector<double> startMs;
    pid_t last = -1;
    for (int run = 0; run < runs; ++run) {
        const auto begin = Clock::now();
        const pid_t orvalin = Spawn({program.string()}, env);
        Clock::time_point mapped;
        if (!WaitForMappedWindow(x, begin + 20s, mapped)) {
            std::cerr << "desktop_startup: no window within 20 s\n";
            Stop(orvalin);
            return 2;
        }
        startMs.push_back(std::chrono::duration<double, std::milli>(mapped - begin).count());
        if (run + 1 < runs) {
            Stop(orvalin);
        } else {
            last = orvalin;
        }
    }
    std::sort(startMs.begin(), startMs.end());
    const double medianStart = startMs[startMs.size() / 2];

    // The first checks of all four sites (at 300 to 450 ms) and the tray's
    // animation are over after a few seconds.
    std::this_thread::sleep_for(4s);
    const double residentMb = ResidentMb(last);
    const Usage before = ReadUsage(last);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const Usage after = ReadUsage(last);
    const double idleCpuMs = after.cpuMs - before.cpuMs;
    const auto [idleSwitches, threadsEnded] = Wakeups(before, after);
    Stop(last);
    xcb_disconnect(x);
    Stop(trayer);
    Stop(xvfb);
    std::error_code ignored;
    fs::remove_all(home, ignored);

    std::printf("desktop_startup: Xvfb %s a notification area, 4 sites on loopback\n",
                withTray ? "with" : "without");
    std::printf(
        "  window shown after start: median %.0f ms (min %.0f, max %.0f, %d starts)  "
        "goal <= %.0f ms\n",
        medianStart, startMs.front(), startMs.back(), runs, kStartGoalMs);
    std::printf("  resident memory after the first checks: %.1f MB  goal <= %.0f MB\n", residentMb,
                kMemoryGoalMb);
    std::printf(
        "  idle %d s: CPU time %.0f ms, %ld context switches of the threads, %d idle "
        "threads retired  goal < %.0f ms\n",
        idleSeconds, idleCpuMs, idleSwitches, threadsEnded, kIdleCpuGoalMs);
    const bool met =
        medianStart <= kStartGoalMs && residentMb <= kMemoryGoalMb && idleCpuMs < kIdleCpuGoalMs;
    std::printf("  goals %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
