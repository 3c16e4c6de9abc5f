// The part of a modern SMTP session that comes before MAIL FROM: EHLO,
// STARTTLS (or TLS from the first byte) and AUTH PLAIN or AUTH LOGIN. The
// password goes over TLS only and never into a box.
#pragma once

#include <string>

#include "mail/smtp_exchange.h"
#include "platform/message_box.h"

namespace orvalin {

struct SmtpAccount;

inline constexpr std::uint16_t kSmtpImplicitTlsPort = 465;

// What an EHLO reply offers that a modern session uses.
struct EhloOffer {
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;
};
// Reads the keyword lines of an EHLO reply (all but the first), in any case;
// both "AUTH PLAIN LOGIN" and the older "AUTH=PLAIN LOGIN" count.
EhloOffer ParseEhloReply(const std::string& reply);

std::string Base64(std::string_view bytes);

class SmtpLogin {
  public:
    // host names the server in EHLO, for the certificate check and in boxes.
    SmtpLogin(SmtpExchange& smtp, IMessageBox& boxes, const std::string& host,
              const SmtpAccount& account)
        : smtp_(smtp), boxes_(boxes), host_(host), account_(account) {}

    // TLS from the first byte (port 465), before the greeting. False, with a
    // box, when the handshake or the certificate fails.
    bool SecureAtOnce();

    // After the greeting: EHLO (HELO when refused), STARTTLS and a second
    // EHLO unless already secured, then the login. False, with a box, when a
    // step is refused; no credentials are sent over a connection without TLS.
    bool Run();

  private:
    bool Hello(EhloOffer& offer);
    bool Secure();
    bool Authenticate(const EhloOffer& offer);
    bool ExpectLogin(std::string_view code);
    void ShowServerBox(std::string_view before, std::string_view after, const std::string& detail);

    SmtpExchange& smtp_;
    IMessageBox& boxes_;
    const std::string& host_;
    const SmtpAccount& account_;
    bool secured_ = false;
    std::string lastReply_;
};

}  // namespace orvalin
