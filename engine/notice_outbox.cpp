// Notices on their way out: sent at once, or held for GroupSeconds and sent
// together with those of the other sites; shown to the front end as they go.
#include "engine/notice_outbox.h"

#include <algorithm>

#include "engine/engine_state.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {

bool NoticeOutbox::Add(OutgoingNotice notice) {
    std::lock_guard lock(mutex_);
    const bool wasEmpty = queued_.empty();
    std::erase_if(queued_, [&](const OutgoingNotice& held) {
        return held.slot == notice.slot && held.kind == notice.kind;
    });
    queued_.push_back(std::move(notice));
    return wasEmpty;
}

std::vector<OutgoingNotice> NoticeOutbox::Take() {
    std::vector<OutgoingNotice> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(queued_);
    }
    std::stable_sort(
        taken.begin(), taken.end(),
        [](const OutgoingNotice& a, const OutgoingNotice& b) { return a.slot < b.slot; });
    return taken;
}

Notice Combine(const std::vector<OutgoingNotice>& sameKind) {
    Notice notice;
    notice.kind = sameKind.front().kind;
    for (const OutgoingNotice& one : sameKind) {
        notice.siteSlots.push_back(one.slot);
    }
    if (sameKind.size() == 1) {
        notice.subject = sameKind.front().subject;
        notice.body = sameKind.front().body;
        return notice;
    }
    const std::string_view prefix =
        notice.kind == NoticeKind::Recovery ? text::kSubjectRecovery : text::kSubjectAlert;
    notice.subject =
        std::string(prefix) + std::to_string(sameKind.size()) + std::string(text::kSubjectWebsites);
    for (const OutgoingNotice& one : sameKind) {
        if (!notice.body.empty()) {
            notice.body += "\n\n";
        }
        notice.body += one.subject + "\n" + one.body;
    }
    return notice;
}

void CMonitorEngine::Shared::Deliver(OutgoingNotice notice) {
    const int groupSeconds = AlertCopy().groupSeconds;
    const bool groupable = notice.kind == NoticeKind::Alert || notice.kind == NoticeKind::Recovery;
    if (groupSeconds == 0 || !groupable) {
        SendTogether({std::move(notice)});
        return;
    }
    if (outbox.Add(std::move(notice))) {
        const auto ms = static_cast<std::uint32_t>(groupSeconds) * 1000U;
        PostToUi([this, ms](FrontEnd&) { ArmTimer(ids::kNoticeGroupTimer, ms); });
    }
}

void CMonitorEngine::Shared::SendTogether(std::vector<OutgoingNotice> sameKind) {
    std::erase_if(sameKind,
                  [&](const OutgoingNotice& one) { return !IsCurrent(one.slot, one.generation); });
    if (sameKind.empty()) {
        return;
    }
    const Notice notice = Combine(sameKind);
    const bool mailed = std::any_of(sameKind.begin(), sameKind.end(),
                                    [](const OutgoingNotice& one) { return one.mail; });
    bool sent = false;
    if (mailed) {
        sent = smtp.SendMail(MailCopy().senderEmail, sameKind.front().to, notice.subject,
                             notice.body) != 0;
        if (!sent) {
            metrics.CountMailFailure();
        }
    }
    if (sent) {
        for (const OutgoingNotice& one : sameKind) {
            NoticeSent(one);
        }
    }
    // Shown when it went out, or would have without email set up; a mail
    // that failed is tried again at the next check, and shown then.
    if ((sent || !mailed) && AlertCopy().desktopNotices) {
        PostToUi([notice](FrontEnd& fe) { fe.tray.ShowNotice(notice); });
    }
}

void CMonitorEngine::Shared::FlushOutbox() {
    std::vector<OutgoingNotice> queued = outbox.Take();
    for (const NoticeKind kind : {NoticeKind::Alert, NoticeKind::Recovery}) {
        std::vector<OutgoingNotice> sameKind;
        for (OutgoingNotice& one : queued) {
            if (one.kind == kind) {
                sameKind.push_back(std::move(one));
            }
        }
        if (!sameKind.empty()) {
            SendTogether(std::move(sameKind));
        }
    }
}

void CMonitorEngine::Shared::OnGroupTimer() {
    frontEnd.timers.Kill(ids::kNoticeGroupTimer);
    // Mail takes seconds: never on the front-end thread.
    StartMailJob([self = shared_from_this()] { self->FlushOutbox(); });
}

}  // namespace orvalin
