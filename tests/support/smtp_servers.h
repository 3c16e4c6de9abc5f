// SMTP servers on 127.0.0.1 for tests: a scripted one that plays fixed
// replies and records what the client sent, a real one (aiosmtpd) that
// receives whole messages, and ports that refuse or never answer a connection.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace orvalin::test {

// One reply of a scripted server: its parts are sent one after the other with
// a pause between them; a silent reply sends nothing at all. After a deaf
// reply the server reads nothing more and holds the connection until it ends.
struct ScriptedReply {
    std::vector<std::string> parts;
    std::chrono::milliseconds pause{0};
    bool silent = false;
    bool deafAfter = false;

    static ScriptedReply Line(std::string text);
    static ScriptedReply LineThenDeaf(std::string text);
    static ScriptedReply Split(std::vector<std::string> parts, std::chrono::milliseconds pause);
    static ScriptedReply Silent();
};

// The replies of a server that accepts everything: greeting, HELO, MAIL,
// RCPT, DATA and the end of the message.
std::vector<ScriptedReply> AcceptingScript();

// Serves every connection with the same script: the first reply right after
// the connection is accepted, each further one after the next client line, or
// after the message when the previous reply began with "354". Replies beyond
// the script are withheld. Connections are served one at a time.
class ScriptedSmtpServer {
  public:
    explicit ScriptedSmtpServer(std::vector<ScriptedReply> script);
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "127.0.0.1:port", the form the SMTP setting takes.
    std::string Address() const;
    // Connections accepted so far.
    int Connections() const { return connections_.load(); }
    // The bytes received in each session that the client has closed, once
    // there are count of them or the timeout has passed.
    std::vector<std::string> WaitForSessions(std::size_t count, std::chrono::milliseconds timeout);

  private:
    void Run();
    void Serve(int fd);
    bool SendReply(int fd, const ScriptedReply& reply);
    bool Sleep(std::chrono::milliseconds pause);

    std::vector<ScriptedReply> script_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::condition_variable sessionEnded_;
    std::vector<std::string> sessions_;
    std::thread thread_;
};

// A port on 127.0.0.1 that refuses connections: bound, never listening.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t Port() const { return port_; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 whose connection queue is full, so that a connection
// attempt is neither accepted nor refused until it gives up.
class StalledPort {
  public:
    StalledPort();
    ~StalledPort();
    StalledPort(const StalledPort&) = delete;
    StalledPort& operator=(const StalledPort&) = delete;
    std::uint16_t Port() const { return port_; }

  private:
    int listenFd_ = -1;
    std::vector<int> fillers_;
    std::uint16_t port_ = 0;
};

// One message as a real SMTP server received it.
struct ReceivedMail {
    std::string helo;                     // the HELO argument
    std::string mailFrom;                 // the envelope sender
    std::vector<std::string> recipients;  // the envelope recipients
    std::string data;                     // header and body as received, dots unstuffed
    std::string login;                    // the user it logged in as; empty without login
    bool overTls = false;                 // the message came over TLS
};

// How a real SMTP server is set up; by default plain SMTP without login.
struct SmtpSinkOptions {
    // With both set the server offers STARTTLS with this certificate...
    std::filesystem::path certificate{};
    std::filesystem::path key{};
    // ...or speaks TLS from the first byte.
    bool implicitTls = false;
    // When set, a login (AUTH PLAIN or LOGIN, only over TLS) is required.
    std::string username{};
    std::string password{};
    bool loginOnly = false;  // offer AUTH LOGIN alone
};

// A real SMTP server (Debian's aiosmtpd under /usr/bin/python3) on a free
// port of 127.0.0.1, running from construction to destruction. It accepts
// every message and keeps it. Throws std::runtime_error when it cannot start.
class SmtpSink {
  public:
    explicit SmtpSink(const SmtpSinkOptions& options = {});
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    std::uint16_t Port() const { return port_; }
    // "127.0.0.1:port", the form the SMTP setting takes.
    std::string Address() const;
    // The messages received so far, in order of arrival.
    std::vector<ReceivedMail> Messages() const;
    // The messages once there are at least count of them or the timeout has passed.
    std::vector<ReceivedMail> WaitForMessages(std::size_t count, std::chrono::milliseconds timeout);

  private:
    void Stop();

    TempDir folder_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace orvalin::test
