// The command-and-reply layer of one SMTP session over an open transport.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "mail/smtp_transport.h"
#include "platform/message_box.h"

namespace orvalin {

inline constexpr std::size_t kSmtpReplyBytes = 1348;  // one receive call
// A reply longer than this is taken as it is, without waiting for its end.
inline constexpr std::size_t kSmtpReplyCap = 64 * 1024;

// The steps of a session in the order the reply boxes number them.
enum class Step { kGreeting = 1, kHelo, kMailFrom, kRcptTo, kData, kEndOfMessage };

// Sends commands, reads whole replies and reports a refused reply in the box
// of its step. Every send and every reply has the reply limit.
class SmtpExchange {
  public:
    SmtpExchange(ISmtpTransport& transport, IMessageBox& boxes,
                 std::chrono::milliseconds replyLimit)
        : transport_(transport), boxes_(boxes), replyLimit_(replyLimit) {}

    bool Send(std::string_view bytes);

    // One whole reply: lines up to the first whose fourth character is not
    // "-" (the last line of a multi-line reply), read within the reply limit.
    // The reply text is its bytes up to the first zero byte. Bytes after the
    // reply are kept for the next one.
    std::string ReadReply();

    // The last reply was empty because the reply limit passed (rather than
    // because the server closed the connection).
    bool ReplyTimedOut() const { return replyTimedOut_; }

    static bool Accepted(const std::string& reply, std::string_view code) {
        return reply.starts_with(code);
    }

    // Reads a reply; a refused one is shown in the box of its step.
    bool Expect(std::string_view code, Step step);
    void ShowRefusal(Step step, const std::string& reply);

    // After a refusal once the sender was named: resets the server's state,
    // reading and ignoring its answer.
    void Reset();

    // Secures the connection. Bytes the server sent before the handshake are
    // dropped, so that none of them can pass for an answer over TLS.
    TlsOutcome StartTls(const std::string& host, bool verify);

    // Ends the session politely when the connection still works: QUIT and its
    // reply, which is ignored.
    void Quit();

  private:
    ISmtpTransport& transport_;
    IMessageBox& boxes_;
    std::chrono::milliseconds replyLimit_;
    std::string pending_;
    bool broken_ = false;  // a send failed, a reply never came or TLS failed
    bool replyTimedOut_ = false;
};

}  // namespace orvalin
