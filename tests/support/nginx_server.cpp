#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace orvalin::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kStartAttempts = 5;
constexpr auto kStartLimit = 10s;
constexpr auto kStopLimit = 5s;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A port that was free a moment ago; nginx may still lose it to someone else,
// which the caller handles by trying again.
std::uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    const bool bound = fd >= 0 &&
                       ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!bound) {
        throw std::runtime_error("nginx fixture: no free port on 127.0.0.1");
    }
    return ntohs(address.sin_port);
}

bool Accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return connected;
}

// Waits up to the limit for the process to end; true once it has been reaped.
bool Reaped(pid_t pid, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    do {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    } while (Clock::now() < deadline);
    return false;
}

}  // namespace

NginxServer::NginxServer(const std::string& extraLocations)
    : NginxServer(NginxOptions{.extraLocations = extraLocations}) {}

NginxServer::NginxServer(const NginxOptions& options) : documentRoot_(dir_ / "www") {
    std::filesystem::create_directories(documentRoot_);
    std::ofstream(documentRoot_ / "index.html", std::ios::binary) << kIndexBody;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (TryStart(FreePort(), options)) {
            return;
        }
    }
    std::string log = ReadFileBytes(ErrorLog());
    throw std::runtime_error("nginx fixture: nginx did not start:\n" + log);
}

NginxServer::~NginxServer() {
    Stop();
}

std::string NginxServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::string(path);
}

void NginxServer::Stop() {
    if (pid_ <= 0) {
        return;
    }
    // A fast shutdown: open connections (a test's silent client) do not delay it.
    ::kill(pid_, SIGTERM);
    if (!Reaped(pid_, kStopLimit)) {
        ::kill(pid_, SIGKILL);
        Reaped(pid_, kStopLimit);
    }
    pid_ = -1;
}

bool NginxServer::TryStart(std::uint16_t port, const NginxOptions& options) {
    WriteConfig(port, options);
    const std::string prefix = dir_.Path().string() + "/";
    const std::string config = (dir_ / "nginx.conf").string();
    const std::string errorLog = ErrorLog().string();
    const std::string output = (dir_ / "nginx.out").string();
    // -e sets the error log before the configuration is read, so nothing is
    // written to the system's log folder even when the configuration is bad.
    std::vector<std::string> args = {kBinary, "-p", prefix, "-c", config, "-e", errorLog};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, kBinary, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error(std::string("nginx fixture: cannot run ") + kBinary);
    }
    pid_ = pid;
    if (!WaitUntilListening(port)) {
        Stop();
        return false;
    }
    port_ = port;
    return true;
}

bool NginxServer::WaitUntilListening(std::uint16_t port) {
    const auto deadline = Clock::now() + kStartLimit;
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // ended early, most likely because the port was taken
            return false;
        }
        if (Accepts(port)) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

void NginxServer::WriteConfig(std::uint16_t port, const NginxOptions& options) const {
    const std::string dir = dir_.Path().string();
    const bool tls = !options.certificate.empty() && !options.key.empty();
    std::string listen = "    listen 127.0.0.1:" + std::to_string(port) + (tls ? " ssl" : "");
    std::string certificates;
    if (tls) {
        certificates = "    ssl_certificate " + options.certificate.string() +
                       ";\n"
                       "    ssl_certificate_key " +
                       options.key.string() + ";\n";
    }
    std::ofstream config(dir_ / "nginx.conf", std::ios::binary | std::ios::trunc);
    config << "daemon off;\n"
              "master_process off;\n"
              "worker_processes 1;\n"
           << "pid " << dir << "/nginx.pid;\n"
           << "lock_file " << dir << "/nginx.lock;\n"
           << "error_log " << dir << "/error.log warn;\n"
           << "events { worker_connections 64; }\n"
              "http {\n"
           << "  access_log " << dir << "/access.log;\n"
           << "  client_body_temp_path " << dir << "/body;\n"
           << "  proxy_temp_path " << dir << "/proxy;\n"
           << "  fastcgi_temp_path " << dir << "/fastcgi;\n"
           << "  uwsgi_temp_path " << dir << "/uwsgi;\n"
           << "  scgi_temp_path " << dir << "/scgi;\n"
           << "  default_type text/html;\n";
    if (!options.serverName.empty()) {
        config << "  server {\n"
               << listen << " default_server;\n"
               << certificates << "    return 421;\n"
               << "  }\n";
    }
    config << "  server {\n" << listen << ";\n" << certificates;
    if (!options.serverName.empty()) {
        config << "    server_name " << options.serverName << ";\n";
    }
    config << "    root " << documentRoot_.string() << ";\n"
           << "    location = /moved { return 301 /; }\n"
           << options.extraLocations << "\n"
           << "  }\n"
              "}\n";
}

}  // namespace orvalin::test
