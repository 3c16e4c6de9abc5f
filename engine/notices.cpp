// Alert, warning and recovery notices, and the mail the front end sends
// through the engine (the email test, single messages).
#include "engine/engine_state.h"
#include "resources/strings.h"

namespace orvalin {

int CMonitorEngine::Shared::SendNotice(int i, std::uint64_t generation, const std::string& to,
                                       const std::string& subject, const std::string& body) {
    if (!IsCurrent(i, generation)) {
        return 0;
    }
    const MailSettings settings = MailCopy();
    const int sent = smtp.SendMail(settings.senderEmail, to, subject, body);
    if (sent == 0 && !settings.server.empty()) {
        metrics.CountMailFailure();
    }
    return sent;
}

void CMonitorEngine::Shared::RaiseAlert(int i, std::uint64_t generation, const std::string& stamp,
                                        const std::string& subject, const std::string& body,
                                        bool clearRecovery) {
    const AlertSettings alerts = AlertCopy();
    if (store->Read(key::kWarned, i) != 0) {
        // This failure streak was dealt with already.
        UpdateIfCurrent(i, generation, [](SlotState& slot) { slot.track.goodStreak = 0; });
        RemindIfDue(i, generation, alerts);
        return;
    }
    if (!FailureConfirmed(i, generation, alerts)) {
        return;
    }
    const MailSettings settings = MailCopy();
    const bool mailSetUp = !settings.server.empty();
    const std::string alertText = mailSetUp ? stamp : std::string(text::kAlertNotSent);
    const bool current = UpdateIfCurrent(i, generation, [&](SlotState& slot) {
        slot.lastAlert = alertText;
        if (clearRecovery) {
            slot.lastRecovery.clear();
        }
    });
    SettingsBatch alert;
    alert.Set(key::kLastAlert, i, alertText);
    if (clearRecovery) {
        alert.Set(key::kLastRecovery, i, "");
    }
    if (!mailSetUp) {
        alert.Set(key::kWarned, i, 1);
    }
    const bool committed = current && CommitIfCurrent(i, generation, [&] { store->Queue(alert); });
    if (committed) {
        Deliver(
            {NoticeKind::Alert, i, generation, settings.alertRecipient, subject, body, mailSetUp});
    }
}

void CMonitorEngine::Shared::HandleRecovery(int i, std::uint64_t generation,
                                            const std::string& address) {
    if (!RecoveryConfirmed(i, generation, address, AlertCopy())) {
        return;
    }
    const std::string s2 = Stamp(clock->LocalNow());
    const MailSettings settings = MailCopy();
    const bool mailSetUp = !settings.server.empty();
    const std::string recoveryText = mailSetUp ? s2 : std::string(text::kRecoveryNotSent);
    const bool current =
        UpdateIfCurrent(i, generation, [&](SlotState& slot) { slot.lastRecovery = recoveryText; });
    SettingsBatch recovery;
    recovery.Set(key::kLastRecovery, i, recoveryText);
    if (!mailSetUp) {
        recovery.Set(key::kWarned, i, 0);
    }
    std::string body = std::string(text::kBodyRecovered) + s2;
    if (const std::string downFor = DownForLine(i); !downFor.empty()) {
        body += "\n\n" + downFor;
    }
    if (!mailSetUp && !store->Read(key::kDownSince, i).empty()) {
        recovery.Set(key::kDownSince, i, "");
    }
    const bool committed =
        current && CommitIfCurrent(i, generation, [&] { store->Queue(recovery); });
    if (committed) {
        Deliver({NoticeKind::Recovery, i, generation, settings.recoveryRecipient,
                 std::string(text::kSubjectRecovery) + address, body, mailSetUp});
    }
}

bool CMonitorEngine::Shared::StartMailJob(std::function<void()> job) {
    if (stopping.load()) {
        return false;
    }
    mailJobs.Add();
    const bool started = startThread([self = shared_from_this(), job = std::move(job)] {
        job();
        self->mailJobs.Done();
    });
    if (!started) {
        mailJobs.Done();
    }
    return started;
}

bool CMonitorEngine::RunEmailTest(std::function<void()> done) {
    const MailSettings settings = shared_->MailCopy();
    return shared_->StartMailJob([s = shared_, settings, done = std::move(done)] {
        const int alertSent = s->smtp.SendMail(
            settings.senderEmail, settings.alertRecipient, std::string(text::kTestAlertSubject),
            std::string(text::kTestBodyOpen) + settings.alertRecipient +
                std::string(text::kTestAlertBodyClose));
        if (alertSent == 0) {
            s->ShowWarning(std::string(text::kTestAlertFailed));
        } else {
            s->ShowWarning(std::string(text::kTestAlertPassed));
            const int recoverySent =
                s->smtp.SendMail(settings.senderEmail, settings.recoveryRecipient,
                                 std::string(text::kTestRecoverySubject),
                                 std::string(text::kTestBodyOpen) + settings.recoveryRecipient +
                                     std::string(text::kTestRecoveryBodyClose));
            s->ShowWarning(std::string(recoverySent != 0 ? text::kTestRecoveryPassed
                                                         : text::kTestRecoveryFailed));
        }
        s->PostToUi([done](FrontEnd&) { done(); });
    });
}

bool CMonitorEngine::SendMailInBackground(MailMessage message, std::function<void(int)> done) {
    return shared_->StartMailJob([s = shared_, message = std::move(message),
                                  done = std::move(done)] {
        const int sent = s->smtp.SendMail(message.from, message.to, message.subject, message.body);
        s->PostToUi([done, sent](FrontEnd&) { done(sent); });
    });
}

}  // namespace orvalin
