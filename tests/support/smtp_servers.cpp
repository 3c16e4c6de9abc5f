#include "support/smtp_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kPollStep = 20ms;

int LoopbackSocket(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), "bind 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string LoopbackAddress(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

bool WaitReadable(int fd, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(limit.count())) > 0;
}

}  // namespace

// --- ScriptedSmtpServer ---------------------------------------------------

ScriptedReply ScriptedReply::Line(std::string text) {
    return {{std::move(text)}, 0ms, false};
}

ScriptedReply ScriptedReply::LineThenDeaf(std::string text) {
    ScriptedReply reply = Line(std::move(text));
    reply.deafAfter = true;
    return reply;
}

ScriptedReply ScriptedReply::Split(std::vector<std::string> parts,
                                   std::chrono::milliseconds pause) {
    return {std::move(parts), pause, false};
}

ScriptedReply ScriptedReply::Silent() {
    return {{}, 0ms, true};
}

std::vector<ScriptedReply> AcceptingScript() {
    return {ScriptedReply::Line("220 scripted.test ready\r\n"),
            ScriptedReply::Line("250 scripted.test\r\n"),
            ScriptedReply::Line("250 sender ok\r\n"),
            ScriptedReply::Line("250 recipient ok\r\n"),
            ScriptedReply::Line("354 go ahead\r\n"),
            ScriptedReply::Line("250 queued\r\n")};
}

ScriptedSmtpServer::ScriptedSmtpServer(std::vector<ScriptedReply> script)
    : script_(std::move(script)) {
    listenFd_ = LoopbackSocket(port_);
    if (::listen(listenFd_, 8) != 0) {
        const int error = errno;
        ::close(listenFd_);
        throw std::system_error(error, std::generic_category(), "listen");
    }
    thread_ = std::thread([this] { Run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

std::string ScriptedSmtpServer::Address() const {
    return LoopbackAddress(port_);
}

std::vector<std::string> ScriptedSmtpServer::WaitForSessions(std::size_t count,
                                                             std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    sessionEnded_.wait_for(lock, timeout, [&] { return sessions_.size() >= count; });
    return sessions_;
}

void ScriptedSmtpServer::Run() {
    while (!stop_) {
        if (!WaitReadable(listenFd_, kPollStep)) {
            continue;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            ++connections_;
            Serve(fd);
            ::close(fd);
        }
    }
}

void ScriptedSmtpServer::Serve(int fd) {
    std::string received;
    std::string pending;
    std::size_t nextReply = 0;
    bool inMessage = false;  // the last reply invited the message, which ends with a lone dot
    bool deaf = false;

    const auto reply = [&] {
        inMessage = false;
        if (nextReply >= script_.size()) {
            return true;
        }
        const ScriptedReply& step = script_[nextReply++];
        if (step.silent) {
            return true;
        }
        inMessage = !step.parts.empty() && step.parts.front().starts_with("354");
        deaf = step.deafAfter;
        return SendReply(fd, step);
    };

    if (!reply()) {
        return;
    }
    char buffer[4096];
    while (!stop_) {
        if (deaf) {
            std::this_thread::sleep_for(kPollStep);
            continue;
        }
        if (!WaitReadable(fd, kPollStep)) {
            continue;
        }
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        pending.append(buffer, static_cast<std::size_t>(got));
        for (;;) {
            std::size_t unitEnd = std::string::npos;
            if (inMessage) {
                if (pending.starts_with(".\r\n")) {
                    unitEnd = 3;
                } else if (const auto dot = pending.find("\r\n.\r\n"); dot != std::string::npos) {
                    unitEnd = dot + 5;
                }
            } else if (const auto lineEnd = pending.find("\r\n"); lineEnd != std::string::npos) {
                unitEnd = lineEnd + 2;
            }
            if (unitEnd == std::string::npos) {
                break;
            }
            pending.erase(0, unitEnd);
            if (!reply()) {
                return;
            }
            if (deaf) {
                break;
            }
        }
    }
    if (!stop_) {
        std::lock_guard lock(mutex_);
        sessions_.push_back(std::move(received));
        sessionEnded_.notify_all();
    }
}

bool ScriptedSmtpServer::SendReply(int fd, const ScriptedReply& reply) {
    for (std::size_t i = 0; i < reply.parts.size(); ++i) {
        if (i > 0 && !Sleep(reply.pause)) {
            return false;
        }
        // A client that has already hung up is not an error of the server.
        (void)::send(fd, reply.parts[i].data(), reply.parts[i].size(), MSG_NOSIGNAL);
    }
    return true;
}

bool ScriptedSmtpServer::Sleep(std::chrono::milliseconds pause) {
    const auto until = SteadyClock::now() + pause;
    while (!stop_ && SteadyClock::now() < until) {
        std::this_thread::sleep_for(std::min<SteadyClock::duration>(
            kPollStep, std::max<SteadyClock::duration>(until - SteadyClock::now(), 0ms)));
    }
    return !stop_;
}

// --- RefusingPort / StalledPort ---------------------------------------------

RefusingPort::RefusingPort() {
    fd_ = LoopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    ::close(fd_);
}

StalledPort::StalledPort() {
    listenFd_ = LoopbackSocket(port_);
    if (::listen(listenFd_, 0) != 0) {
        ::close(listenFd_);
        throw std::system_error(errno, std::generic_category(), "listen");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    // Connect without accepting until one attempt is left hanging: from then
    // on the queue is full and every further attempt hangs as well.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            break;
        }
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        if (errno == EINPROGRESS && ::poll(&p, 1, 200) == 0) {
            return;
        }
    }
    for (const int fd : fillers_) {
        ::close(fd);
    }
    ::close(listenFd_);
    throw std::runtime_error("the connection queue of a loopback port did not fill up");
}

StalledPort::~StalledPort() {
    for (const int fd : fillers_) {
        ::close(fd);
    }
    ::close(listenFd_);
}

// --- SmtpSink ---------------------------------------------------------------

namespace {

constexpr const char* kPython = "/usr/bin/python3";
const std::filesystem::path kSinkScript =
    std::filesystem::path(ORVALIN_TEST_SOURCE_DIR) / "support" / "smtp_sink.py";

// The environment for the server: ours without what could point Debian's
// Python at another installation's modules.
std::vector<std::string> SinkEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("PYTHONHOME=") && !text.starts_with("PYTHONPATH=") &&
            !text.starts_with("PYTHONSTARTUP=")) {
            entries.emplace_back(text);
        }
    }
    entries.emplace_back("PYTHONDONTWRITEBYTECODE=1");
    return entries;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

}  // namespace

SmtpSink::SmtpSink(const SmtpSinkOptions& options) {
    std::vector<std::string> args = {kPython, kSinkScript.string(), folder_.Path().string()};
    if (!options.certificate.empty()) {
        args.insert(args.end(),
                    {"--cert", options.certificate.string(), "--key", options.key.string()});
    }
    if (options.implicitTls) {
        args.emplace_back("--implicit-tls");
    }
    if (!options.username.empty()) {
        args.insert(args.end(), {"--user", options.username, "--password", options.password});
    }
    if (options.loginOnly) {
        args.emplace_back("--login-only");
    }
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string log = (folder_ / "sink.log").string();
    std::vector<std::string> environment = SinkEnvironment();
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    if (pid_ == 0) {
        // Only async-signal-safe calls from here on.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(1);
        }
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        const int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0) {
            ::dup2(in, STDIN_FILENO);
        }
        ::execve(kPython, argv.data(), envp.data());
        ::_exit(127);
    }

    const auto deadline = SteadyClock::now() + 20s;
    const auto portFile = folder_ / "port";
    while (SteadyClock::now() < deadline) {
        if (std::filesystem::exists(portFile)) {
            port_ = static_cast<std::uint16_t>(std::stoi(ReadFileBytes(portFile)));
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the SMTP server ended at start-up: " +
                                     ReadFileBytes(folder_ / "sink.log"));
        }
        std::this_thread::sleep_for(kPollStep);
    }
    Stop();
    throw std::runtime_error("the SMTP server did not start within 20 s: " +
                             ReadFileBytes(folder_ / "sink.log"));
}

SmtpSink::~SmtpSink() {
    Stop();
}

void SmtpSink::Stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = SteadyClock::now() + 5s;
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (SteadyClock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    pid_ = -1;
}

std::string SmtpSink::Address() const {
    return LoopbackAddress(port_);
}

std::vector<ReceivedMail> SmtpSink::Messages() const {
    std::vector<ReceivedMail> messages;
    for (int n = 1;; ++n) {
        const auto message = folder_ / ("msg-" + std::to_string(n));
        if (!std::filesystem::is_directory(message)) {
            return messages;
        }
        messages.push_back({ReadFileBytes(message / "helo"), ReadFileBytes(message / "from"),
                            SplitLines(ReadFileBytes(message / "rcpt")),
                            ReadFileBytes(message / "data"), ReadFileBytes(message / "login"),
                            ReadFileBytes(message / "tls") == "1"});
    }
}

std::vector<ReceivedMail> SmtpSink::WaitForMessages(std::size_t count,
                                                    std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        auto messages = Messages();
        if (messages.size() >= count || SteadyClock::now() >= deadline) {
            return messages;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

}  // namespace orvalin::test
