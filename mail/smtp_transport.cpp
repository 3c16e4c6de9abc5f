#include "mail/smtp_transport.h"

#include "resources/strings.h"

namespace orvalin {

TlsOutcome ISmtpTransport::StartTls(const std::string&, bool, std::chrono::milliseconds) {
    return {TlsFailure::kHandshake, std::string(text::kTlsNotSupported)};
}

}  // namespace orvalin
