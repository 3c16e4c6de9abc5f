// Sends one plain-text message per call through the SMTP server of the mail
// account the client holds, in one short session: the classic one without
// TLS or login, or, when the account authenticates, one with STARTTLS (or TLS
// from the first byte on port 465), AUTH PLAIN or LOGIN, and QUIT.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "mail/smtp_exchange.h"
#include "mail/smtp_login.h"
#include "mail/smtp_transport.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "settings/settings_store.h"

namespace orvalin {

inline constexpr std::chrono::milliseconds kSmtpConnectLimit{30'000};
inline constexpr std::chrono::milliseconds kSmtpReplyLimit{60'000};
inline constexpr std::uint16_t kSmtpDefaultPort = 25;

// "host" or "host:port"; without a port (or with one that is not a number
// from 1 to 65535) the whole text is the host and the port is 25. With
// authentication on, port 465 means TLS from the first byte.
struct SmtpServer {
    std::string host;
    std::uint16_t port = kSmtpDefaultPort;
};
SmtpServer ParseSmtpServer(const std::string& setting);

// The mail date "%a, %d %b %Y %H:%M:%S %z" with English names.
std::string FormatMailDate(const std::tm& local);
// Line feeds and carriage returns that are not part of a CR LF pair become
// CR LF; a line that begins with "." gets a second dot.
std::string EncodeBody(const std::string& body);
// Removes carriage returns and line feeds.
std::string StripLineBreaks(std::string text);

// The user's mail account as the client uses it. The client holds one copy,
// replaced as a whole; it is the one source of the server for every message.
// Every member has an initializer, so designated initializers may leave any out.
struct SmtpAccount {
    std::string server{};  // "host" or "host:port" (the SMTP setting)
    bool authenticate = false;
    std::string username{};
    std::string password{};
    std::string senderName{};   // the From header's name (SMTPName)
    std::string senderEmail{};  // the From header's address (SMTPEmail)
    bool verifyTls = true;      // check the server's certificate (SMTPTLSVerify)
};

class CSmtpClient {
  public:
    using TransportFactory = std::function<std::unique_ptr<ISmtpTransport>()>;

    CSmtpClient(SettingsStore& store, IMessageBox& boxes, IClock& clock);

    // Replaces the held account; the next message uses it.
    void SetAccount(const SmtpAccount& account);

    // 1 when the server accepted the message or sending is disabled, else 0.
    // DisableEmails is read from the store at every call.
    int SendMail(std::string from, std::string to, std::string subject, std::string body);

    // Time limits; tests shorten them.
    std::chrono::milliseconds connectLimit = kSmtpConnectLimit;
    std::chrono::milliseconds replyLimit = kSmtpReplyLimit;
    // With a login, the port that means TLS from the first byte; tests move it.
    std::uint16_t implicitTlsPort = kSmtpImplicitTlsPort;
    // Makes the connection of each session: TCP, which a session with a login
    // secures with TLS, unless replaced.
    TransportFactory makeTransport = [] { return std::make_unique<PlainSmtpTransport>(); };
    // When set, asked before each message of an account that logs in; a
    // password it gives is used for that message instead of the held one
    // (the keyring's, which another program may have changed).
    std::function<std::optional<std::string>(const SmtpAccount&)> freshPassword;

  private:
    std::string NextMessageId();

    SettingsStore& store_;
    IMessageBox& boxes_;
    IClock& clock_;
    std::mutex accountMutex_;
    SmtpAccount account_;
};

}  // namespace orvalin
