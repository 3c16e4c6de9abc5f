// The engine's state and its ways into the front end.
#include "engine/engine_state.h"

#include "resources/strings.h"

namespace orvalin {

std::string DefaultCaption(int slot) {
    return std::string(text::kWebsiteCaption) + std::to_string(slot + 1);
}

std::string Trim(const std::string& text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

CMonitorEngine::Shared::Shared(FrontEnd fe, std::shared_ptr<SettingsStore> settings,
                               std::shared_ptr<IClock> time, std::shared_ptr<IKeyring> secrets)
    : frontEnd(fe),
      store(std::move(settings)),
      clock(std::move(time)),
      logs(*clock),
      smtp(*store, *this, *clock),
      keyring(std::move(secrets)) {
    if (keyring) {
        smtp.freshPassword = [this](const SmtpAccount& account) { return FreshPassword(account); };
    }
    wake.asleepSeen = clock->TimeAsleep();  // a resume is told by its growth from here
    for (int i = 0; i < kSlotCount; ++i) {
        Slot(i).caption = DefaultCaption(i);
        Slot(i).intervalMinutes = key::kInterval.fallback;
        Slot(i).warnMs = key::kWarn.fallback;
    }
}

void CMonitorEngine::Shared::ShowWarning(const std::string& textToShow) {
    if (gate.Enter()) {
        frontEnd.dialogs.ShowWarning(textToShow);
        gate.Leave();
    }
}

void CMonitorEngine::Shared::PostToUi(std::function<void(FrontEnd&)> work) {
    if (!gate.Enter()) {
        return;
    }
    frontEnd.ui.Post([self = shared_from_this(), work = std::move(work)] {
        if (!self->gate.IsClosed()) {
            work(self->frontEnd);
        }
    });
    gate.Leave();
}

void CMonitorEngine::Shared::PostToUiAfter(std::uint32_t ms, std::function<void(FrontEnd&)> work) {
    if (!gate.Enter()) {
        return;
    }
    frontEnd.ui.PostAfter(ms, [self = shared_from_this(), work = std::move(work)] {
        if (!self->gate.IsClosed()) {
            work(self->frontEnd);
        }
    });
    gate.Leave();
}

void CMonitorEngine::Shared::PostToSlot(int i, std::uint64_t generation,
                                        std::function<void(FrontEnd&)> work) {
    // The generation changes only on the front-end thread, where this work
    // runs, so the test below stays true while the front end is called.
    PostToUi([this, i, generation, work = std::move(work)](FrontEnd& fe) {
        if (Slot(i).generation.load() == generation) {
            work(fe);
        }
    });
}

void CMonitorEngine::Shared::ArmTimer(int id, std::uint32_t ms) {
    if (!stopping.load()) {
        NotePollArmed(*this, id, ms);
        frontEnd.timers.Arm(id, ms);
    }
}

bool CMonitorEngine::Shared::IsCurrent(int i, std::uint64_t generation) const {
    return slots[static_cast<std::size_t>(i)].generation.load() == generation && !gate.IsClosed();
}

MailSettings CMonitorEngine::Shared::MailCopy() const {
    std::lock_guard lock(mailMutex);
    return mail;
}

}  // namespace orvalin
