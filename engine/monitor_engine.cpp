// The engine's entry points, all called on the front-end thread: start-up,
// the timers, the Poll buttons and interval arrows, reset, removal and
// shutdown. The checks themselves run on workers (check_pipeline.cpp).
#include "engine/monitor_engine.h"

#include <limits>

#include "engine/engine_state.h"
#include "engine/poll_periods.h"
#include "platform/site_address.h"
#include "probe/endpoint.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

bool ValidSlot(int i) {
    return i >= 0 && i < kSlotCount;
}

}  // namespace

CMonitorEngine::CMonitorEngine(FrontEnd frontEnd, std::shared_ptr<SettingsStore> store,
                               std::shared_ptr<IClock> clock, std::shared_ptr<IKeyring> keyring)
    : shared_(std::make_shared<Shared>(frontEnd, std::move(store), std::move(clock),
                                       std::move(keyring))) {}

CMonitorEngine::~CMonitorEngine() {
    Shutdown();
}

void CMonitorEngine::SetThreadStarter(ThreadStarter starter) {
    shared_->startThread = std::move(starter);
}

void CMonitorEngine::Start() {
    shared_->ArmTimer(ids::kStartupTimer, kStartupTimerMs);
    for (int i = 0; i < kSlotCount; ++i) {
        shared_->ArmTimer(ids::PollTimer(i), kFirstPollMs[i]);
    }
    shared_->ArmSnoozeEnd();
    shared_->WatchStore();
    if (shared_->keyring) {
        shared_->StartKeyringJob([](Shared& s) { s.SyncWithKeyring(); });
    }
    StartSystemWatch(*shared_);
}

bool CMonitorEngine::OnTimer(int id) {
    // Timers stand still while the machine sleeps: the first to fire after
    // a sleep tells of it.
    NoticeResume(*shared_);
    if (id == ids::kStartupTimer) {
        StartupTick();
        return true;
    }
    if (id == ids::kSnoozeEndTimer) {
        shared_->OnSnoozeEndTimer();
        return true;
    }
    if (id == ids::kNoticeGroupTimer) {
        shared_->OnGroupTimer();
        return true;
    }
    if (id >= ids::PollTimer(0) && id < ids::PollTimer(kSlotCount)) {
        TimerTick(id - ids::kFirstPollTimer);
        return true;
    }
    return false;
}

void CMonitorEngine::StartupTick() {
    Shared& s = *shared_;
    if (s.startHidden) {
        s.frontEnd.shell.HideWindow();
    }
    s.frontEnd.timers.Kill(ids::kStartupTimer);
    for (int i = 0; i < kSlotCount; ++i) {
        std::string url;
        {
            std::lock_guard lock(s.Slot(i).mutex);
            if (s.Slot(i).probe) {
                url = s.Slot(i).probe->Url();
            }
            if (!url.empty()) {
                s.Slot(i).caption = url;
            }
        }
        if (!url.empty()) {
            s.frontEnd.panels.SetCaption(i, url);
            s.frontEnd.panels.SetAddressBoxText(i, url);
        }
    }
}

bool CMonitorEngine::PollNow(int slot) {
    return ValidSlot(slot) && TimerTick(slot);
}

bool CMonitorEngine::TimerTick(int i) {
    Shared& s = *shared_;
    SlotState& slot = s.Slot(i);
    s.frontEnd.timers.Kill(ids::PollTimer(i));
    if (s.stopping.load()) {
        return false;
    }
    if (i == 0 && s.emailPromptPending && s.MailCopy().server.empty()) {
        s.emailPromptPending = false;
        s.frontEnd.shell.OpenEmailSettings();
        // The program may have been ended from inside the dialog.
        if (s.stopping.load()) {
            return false;
        }
    }

    const std::string address = CleanAddress(s.frontEnd.panels.AddressBoxText(i));
    if (address.empty() || address == text::kAddressPlaceholders[static_cast<std::size_t>(i)]) {
        return false;  // idle until the Poll button or the arrows arm the timer again
    }
    // Only what the user changed in the boxes is stored: a value another
    // program committed meanwhile is never written over with an old copy.
    const std::string warnText = s.frontEnd.panels.WarningBoxText(i);
    if (!warnText.empty()) {
        const std::int32_t typed = LeadingInt(warnText);
        if (slot.warnMs.exchange(typed) != typed) {
            s.store->Queue(SettingsBatch().Set(key::kWarn, i, typed));
        }
    }

    bool hasAddress = false;
    bool addressChanged = false;
    {
        std::lock_guard lock(slot.mutex);
        if (slot.probe && !slot.probe->Url().empty()) {
            addressChanged = slot.probe->Url() != address;
            slot.probe->SetUrl(address);
            slot.caption = address;
            hasAddress = true;
        }
    }
    if (hasAddress) {
        s.frontEnd.panels.SetCaption(i, address);
    }
    if (addressChanged) {
        s.store->Queue(SettingsBatch()
                           .Set(key::kLastWebsite, i, address)
                           .Set(key::kLastWebsiteTitle, i, address));
    }

    {
        std::lock_guard lock(slot.mutex);
        if (slot.checkRunning) {
            slot.recheckPending = true;  // checked again as soon as this check ends
            return true;
        }
        slot.checkRunning = true;
    }
    // The worker belongs to the slot as it is now: a removal after this tick
    // makes it drop everything, even a probe it would have created.
    if (s.StartWorker(i, slot.generation.load(), address)) {
        return true;
    }
    {
        std::lock_guard lock(slot.mutex);
        slot.checkRunning = false;
    }
    s.logs.WriteLogLine(std::string(text::kLogCheckNotStarted) + address, s.logs.ErrorLogFile());
    s.ArmTimer(ids::PollTimer(i), FullIntervalMs(slot.intervalMinutes.load()));
    return false;
}

void CMonitorEngine::OnPollButton(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    shared_->frontEnd.timers.Kill(ids::PollTimer(slot));
    shared_->ArmTimer(ids::PollTimer(slot), kPollButtonMs);
}

int CMonitorEngine::OnIntervalDelta(int i, int delta) {
    if (!ValidSlot(i)) {
        return 0;
    }
    Shared& s = *shared_;
    std::string boxText = s.frontEnd.panels.IntervalBoxText(i);
    if (boxText.empty()) {
        boxText = std::to_string(kEmptyIntervalMinutes);
    }
    std::int64_t minutes = std::int64_t{LeadingInt(boxText)} - delta;
    if (minutes < 1) {
        minutes = 1;
    }
    if (minutes > std::numeric_limits<std::int32_t>::max()) {
        minutes = std::numeric_limits<std::int32_t>::max();
    }
    const auto value = static_cast<std::int32_t>(minutes);
    s.frontEnd.panels.SetIntervalBoxText(i, std::to_string(value));
    s.store->Queue(SettingsBatch().Set(key::kInterval, i, value));
    s.Slot(i).intervalMinutes = value;
    s.frontEnd.timers.Kill(ids::PollTimer(i));
    s.ArmTimer(ids::PollTimer(i), FullIntervalMs(value));
    return 0;
}

void CMonitorEngine::ResetSite(int i) {
    if (!ValidSlot(i)) {
        return;
    }
    Shared& s = *shared_;
    {
        std::lock_guard lock(s.Slot(i).mutex);
        Shared::ResetSlotData(s.Slot(i));
    }
    Shared::ResetPanel(s.frontEnd, i);
    s.ResetStoredAlertState(i);
}

void CMonitorEngine::RemoveSite(int i) {
    if (!ValidSlot(i)) {
        return;
    }
    Shared& s = *shared_;
    SlotState& slot = s.Slot(i);
    std::string url;
    {
        std::lock_guard lock(slot.mutex);
        if (!slot.probe) {
            return;
        }
        url = slot.probe->Url();
    }
    if (!s.frontEnd.dialogs.AskYesNo(std::string(text::kConfirmRemovalOpen) + url +
                                     std::string(text::kConfirmRemovalClose))) {
        return;
    }
    s.EndMonitoring(i, true);
    s.frontEnd.panels.SetCaption(i, DefaultCaption(i));
    s.frontEnd.panels.SetAddressBoxText(i, "");
    s.frontEnd.panels.FocusAddressBox(i);
    ResetSite(i);
    s.frontEnd.shell.ApplyLayout();
}

void CMonitorEngine::RequestStop() {
    Shared& s = *shared_;
    if (s.stopping.exchange(true)) {
        return;
    }
    // Boxes raised by workers must not hold the end of the program.
    s.frontEnd.dialogs.BeginClosing();
    s.frontEnd.timers.Kill(ids::kStartupTimer);
    s.frontEnd.timers.Kill(ids::kSnoozeEndTimer);
    s.frontEnd.timers.Kill(ids::kNoticeGroupTimer);
    for (int i = 0; i < kSlotCount; ++i) {
        s.frontEnd.timers.Kill(ids::PollTimer(i));
    }
}

void CMonitorEngine::Shutdown() {
    Shared& s = *shared_;
    if (s.shutDown) {
        return;
    }
    s.shutDown = true;
    RequestStop();
    // No change of the store is taken over after RequestStop; the watcher's
    // thread ends here, off the way of the end's first steps.
    s.StopWatchingStore();
    StopSystemWatch(s);
    const auto deadline = std::chrono::steady_clock::now() + shutdownWait;
    s.checks.WaitForNone(shutdownWait);
    // Grouped notices still waiting go out now, not never.
    s.FlushOutbox();
    s.mailJobs.WaitForNone(std::chrono::duration_cast<std::chrono::milliseconds>(std::max(
        deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero())));
    // Lines that could not be written wait for the next run.
    s.logs.SaveMissedEntries(DefaultSpoolFile());
    s.gate.Close(kFrontEndDetachWait);
    // Checks that outlived the wait keep their own references to what they use.
    for (SlotState& slot : s.slots) {
        std::lock_guard lock(slot.mutex);
        slot.probe.reset();
        slot.history.clear();
    }
}

std::int32_t CMonitorEngine::ActiveChecks() const {
    return shared_->checks.Count();
}

std::int32_t CMonitorEngine::RunningJobs() const {
    return shared_->checks.Count() + shared_->mailJobs.Count();
}

bool CMonitorEngine::IsMonitored(int i) const {
    if (!ValidSlot(i)) {
        return false;
    }
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).probe != nullptr;
}

std::string CMonitorEngine::SiteAddress(int i) const {
    if (!ValidSlot(i)) {
        return {};
    }
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).probe ? shared_->Slot(i).probe->Url() : std::string();
}

std::int32_t CMonitorEngine::IntervalMinutes(int i) const {
    return ValidSlot(i) ? shared_->Slot(i).intervalMinutes.load() : 0;
}

std::int32_t CMonitorEngine::WarnMs(int i) const {
    return ValidSlot(i) ? shared_->Slot(i).warnMs.load() : 0;
}

double CMonitorEngine::GraphScale(int i) const {
    if (!ValidSlot(i)) {
        return 0.0;
    }
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).graphScale;
}

std::size_t CMonitorEngine::HistorySize(int i) const {
    if (!ValidSlot(i)) {
        return 0;
    }
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).history.size();
}

void CMonitorEngine::SetStartHidden(bool on) {
    shared_->startHidden = on;
}

CLogWriter& CMonitorEngine::Logs() {
    return shared_->logs;
}

CSmtpClient& CMonitorEngine::Smtp() {
    return shared_->smtp;
}

}  // namespace orvalin
