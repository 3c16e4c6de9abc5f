#include "mail/smtp_exchange.h"

#include <algorithm>

#include "probe/socket_io.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

// Where the first complete reply in the bytes ends, or npos.
std::size_t ReplyEnd(std::string_view bytes) {
    std::size_t start = 0;
    for (auto lineEnd = bytes.find('\n'); lineEnd != std::string_view::npos;
         lineEnd = bytes.find('\n', start)) {
        const std::string_view line = bytes.substr(start, lineEnd - start);
        start = lineEnd + 1;
        if (line.size() < 4 || line[3] != '-') {
            return start;
        }
    }
    return std::string_view::npos;
}

}  // namespace

bool SmtpExchange::Send(std::string_view bytes) {
    const bool sent = transport_.Send(bytes, replyLimit_);
    broken_ = broken_ || !sent;
    return sent;
}

std::string SmtpExchange::ReadReply() {
    const auto deadline = std::chrono::steady_clock::now() + replyLimit_;
    std::size_t end = ReplyEnd(pending_);
    while (end == std::string::npos && pending_.size() < kSmtpReplyCap) {
        const std::string chunk = transport_.Receive(
            std::min(kSmtpReplyBytes, kSmtpReplyCap - pending_.size()), TimeLeft(deadline));
        if (chunk.empty()) {
            break;
        }
        pending_ += chunk;
        end = ReplyEnd(pending_);
    }
    // Closed, timed out or too long: what came is the reply.
    std::string reply = pending_.substr(0, std::min(end, pending_.size()));
    pending_.erase(0, reply.size());
    broken_ = broken_ || reply.empty();
    replyTimedOut_ = reply.empty() && TimeLeft(deadline).count() == 0;
    if (const auto zero = reply.find('\0'); zero != std::string::npos) {
        reply.resize(zero);
    }
    return reply;
}

bool SmtpExchange::Expect(std::string_view code, Step step) {
    const std::string reply = ReadReply();
    if (Accepted(reply, code)) {
        return true;
    }
    ShowRefusal(step, reply);
    return false;
}

void SmtpExchange::ShowRefusal(Step step, const std::string& reply) {
    std::string text(text::kSmtpReplyBoxPrefix);
    text += static_cast<char>('0' + static_cast<int>(step));
    text += text::kSmtpReplyBoxSuffix;
    text += reply;
    boxes_.ShowWarning(text);
}

void SmtpExchange::Reset() {
    if (Send("RSET\r\n")) {
        ReadReply();
    }
}

TlsOutcome SmtpExchange::StartTls(const std::string& host, bool verify) {
    pending_.clear();
    TlsOutcome outcome = transport_.StartTls(host, verify, replyLimit_);
    broken_ = broken_ || !outcome.Ok();
    return outcome;
}

void SmtpExchange::Quit() {
    if (!broken_ && Send("QUIT\r\n")) {
        ReadReply();
    }
}

}  // namespace orvalin
