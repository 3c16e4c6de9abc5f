#include "headless/headless_frontend.h"

#include "platform/printable_text.h"
#include "resources/strings.h"

namespace orvalin {

std::string_view OutcomeWord(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::Success:
            return text::kOutcomeSuccess;
        case CheckOutcome::Slow:
            return text::kOutcomeSlow;
        case CheckOutcome::UnexpectedResponse:
            return text::kOutcomeUnexpected;
        case CheckOutcome::Unreachable:
            return text::kOutcomeUnreachable;
        case CheckOutcome::NoNetwork:
            return text::kNoNetwork;
        case CheckOutcome::NotChecked:
            break;
    }
    return text::kOutcomeNotChecked;
}

int ExitCodeFor(CheckOutcome worst) {
    switch (worst) {
        case CheckOutcome::Success:
        case CheckOutcome::NoNetwork:  // not judged: it makes the result no worse
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
        // "ADDRESS: OUTCOME...", with the caption ahead only when it says
        // something else.
        if (report.caption != report.address) {
            out_ << EscapeControlBytes(report.caption) << ": ";
        }
        out_ << EscapeControlBytes(report.address) << ": " << OutcomeWord(report.outcome);
        // A failure's cause, when the probe named one ("TLS: certificate has expired").
        if (report.outcome == CheckOutcome::Unreachable && !report.statusText.empty()) {
            out_ << " (" << EscapeControlBytes(report.statusText) << ")";
        }
        out_ << "; Last access: " << report.lastAccess << std::endl;
    }
    if (onCheckFinished) {
        onCheckFinished(report);
    }
}

void HeadlessFrontEnd::PrintError(const std::string& text, Priority priority) {
    std::lock_guard lock(errMutex_);
    // Boxes quote servers' replies: no byte of theirs may steer the terminal.
    const std::string line = std::string(text::kAppTitle) + ": " + EscapeControlBytes(text, "\n");
    err_ << WithPriority(line, priority, errIsJournal_) << std::endl;
}

void HeadlessFrontEnd::ShowWarning(const std::string& text) {
    // The boxes the engine raises are its errors: a mail that could not be sent.
    PrintError(text, Priority::Error);
}

bool HeadlessFrontEnd::AskYesNo(const std::string& text) {
    PrintError(text + " (answered No)", Priority::Warning);
    return false;
}

void HeadlessFrontEnd::OpenEmailSettings() {
    if (!emailHintShown_) {
        emailHintShown_ = true;
        PrintError(std::string(text::kDaemonEmailHint), Priority::Warning);
    }
}

}  // namespace orvalin
