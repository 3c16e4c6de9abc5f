#include "shell/headless_frontend.h"

#include "resources/strings.h"

namespace orvalin {
namespace {

constexpr std::string_view kEmailHint =
    "Email notices are not set up. Set the mail server and addresses with orvalin-settings, "
    "for example:\n"
    "  orvalin-settings set-string Settings SMTP mail.example.org\n"
    "  orvalin-settings set-string Settings SMTPEmail monitor@example.org\n"
    "  orvalin-settings set-string Settings SMTPAlert me@example.org\n"
    "  orvalin-settings set-string Settings SMTPRecovery me@example.org";

}  // namespace

std::string_view OutcomeWord(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::Success:
            return "success";
        case CheckOutcome::Slow:
            return "slow";
        case CheckOutcome::UnexpectedResponse:
            return "unexpected response";
        case CheckOutcome::Unreachable:
            return "unreachable";
        case CheckOutcome::NotChecked:
            break;
    }
    return "not checked";
}

int ExitCodeFor(CheckOutcome worst) {
    switch (worst) {
        case CheckOutcome::Success:
            return kExitAllWell;
        case CheckOutcome::Slow:
            return kExitSomeSlow;
        case CheckOutcome::UnexpectedResponse:
        case CheckOutcome::Unreachable:
        case CheckOutcome::NotChecked:
            break;
    }
    return kExitSomeFailing;
}

void HeadlessFrontEnd::CheckFinished(const CheckReport& report) {
    if (report.outcome != CheckOutcome::NotChecked) {
        out_ << report.caption << ": " << report.address << ": " << OutcomeWord(report.outcome)
             << "; Last access: " << report.lastAccess << std::endl;
    }
    if (onCheckFinished) {
        onCheckFinished(report);
    }
}

void HeadlessFrontEnd::PrintError(const std::string& text) {
    std::lock_guard lock(errMutex_);
    err_ << text::kAppTitle << ": " << text << std::endl;
}

void HeadlessFrontEnd::ShowWarning(const std::string& text) { PrintError(text); }

bool HeadlessFrontEnd::AskYesNo(const std::string& text) {
    PrintError(text + " (answered No)");
    return false;
}

void HeadlessFrontEnd::OpenEmailSettings() { PrintError(std::string(kEmailHint)); }

}  // namespace orvalin
