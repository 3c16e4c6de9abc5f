// Taking over what another program commits to the settings store while the
// engine runs: a slot's address, interval and threshold, and the mail and log
// settings. The store's watcher thread reads what changed; the changes are
// applied on the front-end thread, and nothing of them is written back.
#include <initializer_list>

#include "engine/engine_state.h"
#include "engine/poll_periods.h"
#include "resources/resource_ids.h"

namespace orvalin {
namespace {

// How long the watcher's read waits for another program's lock. A store
// still locked then is read again at its next change (the lock's end is one).
constexpr std::chrono::milliseconds kChangeReadWait{1000};

bool AnyChanged(const StoreChanges& changes, std::initializer_list<StringKey> strings,
                std::initializer_list<IntKey> numbers) {
    for (const StringKey& k : strings) {
        if (changes.Changed(k)) {
            return true;
        }
    }
    for (const IntKey& k : numbers) {
        if (changes.Changed(k)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void CMonitorEngine::Shared::WatchStore() {
    if (!watcher && !stopping.load()) {
        watcher = std::make_unique<StoreWatcher>(store->Path(), [this] { OnStoreChanged(); });
    }
}

void CMonitorEngine::Shared::StopWatchingStore() {
    watcher.reset();
}

void CMonitorEngine::Shared::OnStoreChanged() {
    auto changes = store->ReadChanges(kChangeReadWait);
    if (!changes || changes->Empty()) {
        return;
    }
    PostToUi([this, changes = std::move(*changes)](FrontEnd& fe) { TakeOver(fe, changes); });
}

void CMonitorEngine::Shared::TakeOver(FrontEnd& fe, const StoreChanges& changes) {
    if (stopping.load()) {
        return;
    }
    const SettingsSnapshot& now = changes.now;
    if (changes.Changed(key::kSnoozeUntil)) {
        // Set or ended with orvalin-settings; ended, what it held goes out.
        ArmSnoozeEnd();
        if (!SnoozedIn(now)) {
            ReleaseSnoozed();
        }
    }
    if (AnyChanged(changes,
                   {key::kSmtpName, key::kSmtpUsername, key::kSmtpPassword, key::kSmtp,
                    key::kSmtpAlert, key::kSmtpEmail, key::kSmtpRecovery},
                   {key::kSmtpAuth, key::kSmtpTlsVerify})) {
        MailSettings taken = MailSettingsOf(now);
        if (keyring && taken.password.empty()) {
            // The keyring's, looked up again on a worker.
            taken.password = MailCopy().password;
        }
        UseMail(taken);
        if (keyring) {
            StartKeyringJob([](Shared& s) { s.SyncWithKeyring(); });
        }
    }
    if (AnyChanged(changes, {key::kAccessLogFile, key::kErrorLogFile},
                   {key::kDoAccessLog, key::kDoErrorLog})) {
        UseLogSettings(LogSettingsOf(now));
    }
    for (int i = 0; i < kSlotCount; ++i) {
        TakeOverSlot(fe, i, changes);
    }
}

void CMonitorEngine::Shared::TakeOverSlot(FrontEnd& fe, int i, const StoreChanges& changes) {
    SlotState& slot = Slot(i);
    const SettingsSnapshot& now = changes.now;
    if (changes.Changed(key::kWarn, i)) {
        slot.warnMs = now.Read(key::kWarn, i);
        fe.panels.SetWarningBoxText(i, std::to_string(slot.warnMs.load()));
    }
    std::string current;
    bool monitored = false;
    {
        std::lock_guard lock(slot.mutex);
        monitored = slot.probe != nullptr;
        current = monitored ? slot.probe->Url() : std::string();
    }
    if (changes.Changed(key::kInterval, i)) {
        slot.intervalMinutes = now.Read(key::kInterval, i);
        fe.panels.SetIntervalBoxText(i, std::to_string(slot.intervalMinutes.load()));
        if (monitored) {
            // As the arrows do: the next check a whole new interval from now.
            fe.timers.Kill(ids::PollTimer(i));
            ArmTimer(ids::PollTimer(i), FullIntervalMs(slot.intervalMinutes.load()));
        }
    }
    if (!changes.Changed(key::kLastWebsite, i) && !changes.Changed(key::kLastWebsiteTitle, i)) {
        return;
    }
    const std::string site = StoredSite(now, i);
    if (site.empty() && monitored) {
        EndMonitoring(i, false);
        // What a check of the removed site queued before is cleared again.
        ResetStoredAlertState(i);
        fe.panels.SetCaption(i, DefaultCaption(i));
        fe.panels.SetAddressBoxText(i, "");
        {
            std::lock_guard lock(slot.mutex);
            ResetSlotData(slot);
        }
        ResetPanel(fe, i);
        fe.shell.ApplyLayout();
    } else if (!site.empty() && (!monitored || site != current)) {
        MonitorAddress(fe, i, site);
    }
}

void CMonitorEngine::Shared::MonitorAddress(FrontEnd& fe, int i, const std::string& address) {
    SlotState& slot = Slot(i);
    fe.timers.Kill(ids::PollTimer(i));
    {
        // A check still running for the old address drops its results, and
        // the new one starts from a clean slot, as a changed address does.
        std::lock_guard commit(slot.commitMutex);
        std::lock_guard lock(slot.mutex);
        slot.generation.fetch_add(1);
        slot.probe = std::make_shared<CSiteProbe>(address);
        slot.lastUrl = address;
        slot.caption = address;
        slot.recheckPending = false;
        ResetSlotData(slot);
    }
    // The new address starts without an alert, as a changed address does: an
    // alert a check of the old one queued just before must not stay with it.
    ResetStoredAlertState(i);
    ResetPanel(fe, i);
    fe.panels.SetCaption(i, address);
    fe.panels.SetAddressBoxText(i, address);
    // Checked at once, as Enter in its address box does.
    ArmTimer(ids::PollTimer(i), kPollButtonMs);
    fe.shell.ApplyLayout();
}

}  // namespace orvalin
