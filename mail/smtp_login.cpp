#include "mail/smtp_login.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

#include "mail/smtp_client.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

// The words of one keyword line after its code, split at blanks and "=".
std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < line.size()) {
        const auto end = line.find_first_of(" =", start);
        if (end != start) {
            words.push_back(UpperCase(line.substr(start, end - start)));
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return words;
}

}  // namespace

EhloOffer ParseEhloReply(const std::string& reply) {
    EhloOffer offer;
    std::size_t start = reply.find('\n');
    while (start != std::string::npos && start + 1 < reply.size()) {
        ++start;
        const auto end = reply.find('\n', start);
        std::string_view line = std::string_view(reply).substr(start, end - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        start = end;
        if (line.size() < 4) {
            continue;
        }
        const std::vector<std::string> words = Words(line.substr(4));
        if (words.empty()) {
            continue;
        }
        if (words.front() == "STARTTLS") {
            offer.startTls = true;
        } else if (words.front() == "AUTH") {
            for (std::size_t i = 1; i < words.size(); ++i) {
                offer.authPlain = offer.authPlain || words[i] == "PLAIN";
                offer.authLogin = offer.authLogin || words[i] == "LOGIN";
            }
        }
    }
    return offer;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group <<= 8;
            if (k < count) {
                group |= static_cast<unsigned char>(bytes[i + k]);
            }
        }
        for (std::size_t k = 0; k < 4; ++k) {
            encoded += k <= count ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return encoded;
}

bool SmtpLogin::SecureAtOnce() {
    return Secure();
}

bool SmtpLogin::Run() {
    EhloOffer offer;
    if (!Hello(offer)) {
        return false;
    }
    if (!secured_) {
        if (!offer.startTls) {
            ShowServerBox(text::kSmtpServerBefore, text::kSmtpNoStartTlsAfter, lastReply_);
            return false;
        }
        if (!smtp_.Send("STARTTLS\r\n")) {
            return false;
        }
        const std::string reply = smtp_.ReadReply();
        if (!SmtpExchange::Accepted(reply, "220")) {
            ShowServerBox(text::kSmtpServerBefore, text::kSmtpStartTlsRefusedAfter, reply);
            return false;
        }
        // What the server offered before TLS counts no more: ask again.
        if (!Secure() || !Hello(offer)) {
            return false;
        }
    }
    return Authenticate(offer);
}

bool SmtpLogin::Hello(EhloOffer& offer) {
    if (!smtp_.Send("EHLO " + host_ + "\r\n")) {
        return false;
    }
    lastReply_ = smtp_.ReadReply();
    if (SmtpExchange::Accepted(lastReply_, "250")) {
        offer = ParseEhloReply(lastReply_);
        return true;
    }
    // A server that knows no EHLO offers no extensions either.
    offer = {};
    if (!smtp_.Send("HELO " + host_ + "\r\n")) {
        return false;
    }
    lastReply_ = smtp_.ReadReply();
    if (!SmtpExchange::Accepted(lastReply_, "250")) {
        smtp_.ShowRefusal(Step::kHelo, lastReply_);
        return false;
    }
    return true;
}

bool SmtpLogin::Secure() {
    const TlsOutcome outcome = smtp_.StartTls(host_, account_.verifyTls);
    if (outcome.Ok()) {
        secured_ = true;
        return true;
    }
    if (outcome.failure == TlsFailure::kCertificate) {
        ShowServerBox(text::kSmtpCertificateBefore, text::kSmtpCertificateAfter, outcome.reason);
    } else {
        ShowServerBox(text::kSmtpTlsFailedBefore, text::kSmtpBoxColon, outcome.reason);
    }
    return false;
}

bool SmtpLogin::Authenticate(const EhloOffer& offer) {
    if (offer.authPlain) {
        std::string credentials;
        credentials += '\0';
        credentials += account_.username;
        credentials += '\0';
        credentials += account_.password;
        return smtp_.Send("AUTH PLAIN " + Base64(credentials) + "\r\n") && ExpectLogin("235");
    }
    if (offer.authLogin) {
        return smtp_.Send("AUTH LOGIN\r\n") && ExpectLogin("334") &&
               smtp_.Send(Base64(account_.username) + "\r\n") && ExpectLogin("334") &&
               smtp_.Send(Base64(account_.password) + "\r\n") && ExpectLogin("235");
    }
    ShowServerBox(text::kSmtpServerBefore, text::kSmtpNoLoginMethodAfter, lastReply_);
    return false;
}

bool SmtpLogin::ExpectLogin(std::string_view code) {
    const std::string reply = smtp_.ReadReply();
    if (SmtpExchange::Accepted(reply, code)) {
        return true;
    }
    if (reply.empty()) {
        // Silence is no refusal: say what happened instead of quoting nothing.
        ShowServerBox(
            text::kSmtpServerBefore,
            smtp_.ReplyTimedOut() ? text::kSmtpLoginTimedOutAfter : text::kSmtpLoginClosedAfter,
            {});
        return false;
    }
    ShowServerBox(text::kSmtpServerBefore, text::kSmtpLoginRefusedAfter, reply);
    return false;
}

void SmtpLogin::ShowServerBox(std::string_view before, std::string_view after,
                              const std::string& detail) {
    std::string text(before);
    text += host_;
    text += after;
    text += detail;
    boxes_.ShowWarning(text);
}

}  // namespace orvalin
