#include "mail/smtp_client.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "mail/smtp_login.h"
#include "probe/endpoint.h"
#include "probe/socket_io.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

// Fixed English names: the Date line must not follow the user's locale.
constexpr std::array<std::string_view, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Wraps any integer into 0..count-1, so that an odd tm field cannot index
// outside a name table.
std::size_t Wrap(int value, int count) {
    return static_cast<std::size_t>((value % count + count) % count);
}

// Shared by every client of the process, so that two clients never give two
// messages the same identifier.
std::atomic<std::uint32_t> messageCounter{0};

}  // namespace

SmtpServer ParseSmtpServer(const std::string& setting) {
    SmtpServer server{setting, kSmtpDefaultPort};
    const auto colon = setting.rfind(':');
    if (colon == std::string::npos) {
        return server;
    }
    const std::string_view digits = std::string_view(setting).substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        port == 0 || port > 65535) {
        return server;
    }
    server.host = setting.substr(0, colon);
    server.port = static_cast<std::uint16_t>(port);
    return server;
}

std::string FormatMailDate(const std::tm& local) {
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDayNames[Wrap(local.tm_wday, 7)].data(), local.tm_mday,
                  kMonthNames[Wrap(local.tm_mon, 12)].data(), local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, offsetMinutes < 0 ? '-' : '+', absMinutes / 60,
                  absMinutes % 60);
    return text;
}

std::string EncodeBody(const std::string& body) {
    std::string encoded;
    encoded.reserve(body.size() + body.size() / 16 + 2);
    bool lineStart = true;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        // A line of the message that begins with a dot would otherwise lose
        // it, or end the message early when it is the only character.
        if (lineStart && c == '.') {
            encoded += '.';
        }
        // CR LF, a bare LF and a bare CR each end a line, and each goes out as
        // CR LF: no bare CR or LF reaches the server, so nothing but the final
        // CR LF . CR LF can end the message.
        if (c == '\r' || c == '\n') {
            encoded += "\r\n";
            if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
                ++i;
            }
            lineStart = true;
            continue;
        }
        encoded += c;
        lineStart = false;
    }
    return encoded;
}

std::string StripLineBreaks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

CSmtpClient::CSmtpClient(SettingsStore& store, IMessageBox& boxes, IClock& clock)
    : store_(store), boxes_(boxes), clock_(clock) {}

void CSmtpClient::SetAccount(const SmtpAccount& account) {
    std::lock_guard lock(accountMutex_);
    account_ = account;
}

int CSmtpClient::SendMail(std::string from, std::string to, std::string subject, std::string body) {
    if (store_.Read(key::kDisableEmails) != 0) {
        return 1;
    }
    SmtpAccount account;
    {
        std::lock_guard lock(accountMutex_);
        account = account_;
    }
    if (account.authenticate && freshPassword) {
        if (std::optional<std::string> fresh = freshPassword(account)) {
            account.password = std::move(*fresh);
        }
    }
    // Line breaks are dropped from everything that goes into a command or a
    // header line, so that no setting or typed text can add one of its own.
    const std::string serverName = StripLineBreaks(account.server);
    from = StripLineBreaks(std::move(from));
    to = StripLineBreaks(std::move(to));
    subject = StripLineBreaks(std::move(subject));
    const std::string senderName = StripLineBreaks(account.senderName);
    const std::string senderEmail = StripLineBreaks(account.senderEmail);

    const SmtpServer server = ParseSmtpServer(serverName);
    // The lookup and the connection share the connect limit.
    const auto connectDeadline = std::chrono::steady_clock::now() + connectLimit;
    sockaddr_in endpoint{};
    if (!ResolveEndpoint(server.host, server.port, endpoint, connectLimit)) {
        boxes_.ShowWarning(std::string(text::kSmtpContactFailed));
        return 0;
    }
    const std::unique_ptr<ISmtpTransport> transport = makeTransport();
    if (!transport || !transport->Open()) {
        boxes_.ShowWarning(std::string(text::kSmtpContactFailed));
        return 0;
    }
    if (!transport->Connect(endpoint, TimeLeft(connectDeadline))) {
        boxes_.ShowWarning(std::string(text::kSmtpConnectFailed));
        return 0;
    }

    SmtpExchange smtp(*transport, boxes_, replyLimit);
    // Only a session that logs in is a modern one; without a login the bytes
    // on the wire stay those of the classic session, which sends no QUIT.
    const bool modern = account.authenticate;
    struct QuitAtEnd {
        SmtpExchange& smtp;
        bool on;
        ~QuitAtEnd() {
            if (on) {
                smtp.Quit();
            }
        }
    } quitAtEnd{smtp, modern};
    SmtpLogin login(smtp, boxes_, server.host, account);
    if (modern && server.port == implicitTlsPort && !login.SecureAtOnce()) {
        return 0;
    }
    if (!smtp.Expect("220", Step::kGreeting)) {
        return 0;
    }
    if (modern) {
        if (!login.Run()) {
            return 0;
        }
    } else {
        // The host alone: "host:port" is no valid HELO argument.
        if (!smtp.Send("HELO " + server.host + "\r\n")) {
            return 0;
        }
        if (!smtp.Expect("250", Step::kHelo)) {
            return 0;
        }
    }
    // A modern session writes the addresses as RFC 5321 has them, which the
    // servers that require a login expect; the classic forms stay as they were.
    if (!smtp.Send(modern ? "MAIL FROM:<" + from + ">\r\n" : "MAIL FROM: " + from + "\r\n")) {
        return 0;
    }
    if (!smtp.Expect("250", Step::kMailFrom)) {
        smtp.Reset();
        return 0;
    }
    if (!smtp.Send(modern ? "RCPT TO:<" + to + ">\r\n" : "RCPT TO: " + to + "\r\n")) {
        return 0;
    }
    if (modern) {
        if (!smtp.Expect("250", Step::kRcptTo)) {
            smtp.Reset();
            return 0;
        }
    } else if (!SmtpExchange::Accepted(smtp.ReadReply(), "250")) {
        // Servers that insist on the bracketed form get it on a second try.
        if (!smtp.Send("RCPT TO: <" + to + ">\r\n")) {
            return 0;
        }
        if (!smtp.Expect("250", Step::kRcptTo)) {
            smtp.Reset();
            return 0;
        }
    }
    if (!smtp.Send("DATA\r\n")) {
        return 0;
    }
    if (!smtp.Expect("354", Step::kData)) {
        smtp.Reset();
        return 0;
    }

    const std::tm now = clock_.LocalNow();
    std::string message = "Date: " + FormatMailDate(now) + "\r\n";
    message += "Message-Id: " + NextMessageId() + "\r\n";
    message += "From: " + senderName + " <" + senderEmail + ">\r\n";
    message += "To: <" + to + ">\r\n";
    message += "Subject: " + subject + "\r\n";
    message += "\r\n";
    message += EncodeBody(body);
    message += "\r\n.\r\n";
    if (!smtp.Send(message)) {
        return 0;
    }
    if (!smtp.Expect("250", Step::kEndOfMessage)) {
        smtp.Reset();
        return 0;
    }
    return 1;
}

// "<seconds.process.counter@orvalin>": the counter separates the messages of
// one process, the process id and the time those of different runs.
std::string CSmtpClient::NextMessageId() {
    // time() rather than mktime(): mktime re-reads the time zone on every call,
    // which is not safe while other threads convert times.
    const auto seconds = static_cast<long long>(std::time(nullptr));
    return "<" + std::to_string(seconds) + "." + std::to_string(static_cast<long>(::getpid())) +
           "." + std::to_string(messageCounter.fetch_add(1) + 1) + "@orvalin>";
}

}  // namespace orvalin
