#include "engine/monitor_engine.h"

#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>

#include <array>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "probe/endpoint.h"
#include "probe/site_probe.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

inline constexpr int kGraphLabelWidth = 50;
inline constexpr int kWorkerNiceIncrement = 5;
inline constexpr std::string_view kStatusOk = "200";
inline constexpr std::int64_t kMinuteMs = 60'000;
// Timers take at most this many milliseconds, as window timers do.
inline constexpr std::int64_t kLongestTimerMs = std::numeric_limits<std::int32_t>::max();

std::string Trim(const std::string& text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::uint32_t TimerPeriod(std::int64_t ms) {
    if (ms < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(ms > kLongestTimerMs ? kLongestTimerMs : ms);
}

std::string DefaultCaption(int slot) {
    return std::string(text::kWebsiteCaption) + std::to_string(slot + 1);
}

void LowerThreadPriority() {
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, self, current + kWorkerNiceIncrement);
    }
}

// Keeps calls from check workers into the front end from racing its
// detachment at shutdown.
class FrontEndGate {
  public:
    bool Enter() {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        ++inFlight_;
        return true;
    }
    void Leave() {
        std::lock_guard lock(mutex_);
        if (--inFlight_ == 0) {
            idle_.notify_all();
        }
    }
    // Waits for the calls in flight, then refuses new ones.
    void Close() {
        std::unique_lock lock(mutex_);
        closed_ = true;
        idle_.wait(lock, [this] { return inFlight_ == 0; });
    }
    bool IsClosed() const {
        std::lock_guard lock(mutex_);
        return closed_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int inFlight_ = 0;
    bool closed_ = false;
};

struct SlotState {
    mutable std::mutex mutex;
    std::shared_ptr<CSiteProbe> probe;  // empty: the slot is not monitored
    std::atomic<std::int32_t> intervalMinutes{key::kInterval.fallback};
    std::atomic<std::int32_t> warnMs{key::kWarn.fallback};
    double graphScale = kInitialGraphScale;
    AccessHistory history;
    std::string lastAlert;
    std::string lastRecovery;
    std::string lastUrl;
    std::string caption;
    // Raised by removal: a check that began before it drops its results.
    std::uint64_t generation = 0;
    bool checkRunning = false;
    bool recheckPending = false;  // a tick came due while the check ran
};

}  // namespace

struct CMonitorEngine::Shared : IMessageBox, std::enable_shared_from_this<Shared> {
    Shared(FrontEnd fe, std::shared_ptr<SettingsStore> settings, std::shared_ptr<IClock> time)
        : frontEnd(fe),
          store(std::move(settings)),
          clock(std::move(time)),
          logs(*clock),
          smtp(*store, *this, *clock) {
        for (int i = 0; i < kSlotCount; ++i) {
            Slot(i).caption = DefaultCaption(i);
        }
    }

    SlotState& Slot(int i) { return slots[static_cast<std::size_t>(i)]; }

    // The mail client's boxes go to the front end while it is attached.
    void ShowWarning(const std::string& textToShow) override {
        if (gate.Enter()) {
            frontEnd.dialogs.ShowWarning(textToShow);
            gate.Leave();
        }
    }

    // Runs work on the front-end thread while the front end is attached.
    void PostToUi(std::function<void(FrontEnd&)> work) {
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

    // As PostToUi, but dropped when the slot was removed after generation.
    void PostToSlot(int i, std::uint64_t generation, std::function<void(FrontEnd&)> work) {
        PostToUi([this, i, generation, work = std::move(work)](FrontEnd& fe) {
            std::lock_guard lock(Slot(i).mutex);
            if (Slot(i).generation == generation) {
                work(fe);
            }
        });
    }

    // Runs action under the slot's lock when the check that took generation
    // still owns the slot and the engine still runs. False otherwise.
    template <typename Action>
    bool IfCurrent(int i, std::uint64_t generation, Action&& action) {
        std::lock_guard lock(Slot(i).mutex);
        if (Slot(i).generation != generation || gate.IsClosed()) {
            return false;
        }
        action(Slot(i));
        return true;
    }

    void ArmTimer(int id, std::uint32_t ms) {
        if (!stopping.load()) {
            frontEnd.timers.Arm(id, ms);
        }
    }

    MailSettings MailCopy() const {
        std::lock_guard lock(mailMutex);
        return mail;
    }

    // ---- the check, on the slot's worker thread ----

    std::string ReadAddressBox(int i, const std::string& boxText);
    void CheckSite(int i, const std::string& boxText);
    double TimeProbe(int i, std::uint64_t generation, const std::shared_ptr<CSiteProbe>& probe,
                     std::string& statusText);
    void UpdateTraySummary(const std::string& address);
    std::string UpdateSitePanel(double ms, int i, std::uint64_t generation);
    void FinishCheck(int i, std::uint64_t generation, std::uint32_t rearmMs, CheckReport report);

    void WriteLog(int i, std::uint64_t generation, const std::string& line,
                  const std::string& file);
    int SendNotice(int i, std::uint64_t generation, const std::string& to,
                   const std::string& subject, const std::string& body);
    void RaiseAlert(int i, std::uint64_t generation, const std::string& stamp,
                    const std::string& subject, const std::string& body, bool clearRecovery);
    void HandleRecovery(int i, std::uint64_t generation, const std::string& address);

    // ---- reset, from the front-end thread or a worker ----

    void ResetSlotData(SlotState& slot) {
        slot.lastAlert.clear();
        slot.lastRecovery.clear();
        slot.graphScale = kInitialGraphScale;
        slot.history.clear();
    }
    void ResetStoredAlertState(int i) {
        store->Write(key::kWarned, i, 0);
        store->Write(key::kLastAlert, i, "");
        store->Write(key::kLastRecovery, i, "");
    }
    static void PrepareGraph(IResponseGraph& graph) {
        graph.SetLabelWidth(kGraphLabelWidth);
        graph.SetLabelCount(kLabelDivisions);
        std::array<std::string, kLabelDivisions> noLabels;
        noLabels.fill(std::string(text::kNoLabel));
        graph.SetLabels(noLabels);
        graph.SetDirection(0);
        graph.SetLabelSide(0);
    }
    static void ResetPanel(FrontEnd& fe, int i) {
        fe.panels.SetStatusColour(i, std::nullopt);
        fe.panels.ClearPanelTexts(i);
        fe.panels.Graph(i).ClearData();
        PrepareGraph(fe.panels.Graph(i));
    }

    FrontEnd frontEnd;
    std::shared_ptr<SettingsStore> store;
    std::shared_ptr<IClock> clock;
    CLogWriter logs;
    CSmtpClient smtp;
    std::array<SlotState, kSlotCount> slots;
    std::atomic<std::int32_t> activeChecks{0};
    std::atomic_flag summaryBusy;
    FrontEndGate gate;
    std::atomic<bool> stopping{false};
    mutable std::mutex mailMutex;
    MailSettings mail;
    // Front-end thread only.
    bool emailPromptPending = true;
    bool startHidden = false;
    bool shutDown = false;
};

// ---------------------------------------------------------------- checks

std::string CMonitorEngine::Shared::ReadAddressBox(int i, const std::string& boxText) {
    std::string address = Trim(boxText);
    if (address.empty() || address == text::kAddressPlaceholders[static_cast<std::size_t>(i)]) {
        return {};
    }
    std::lock_guard lock(Slot(i).mutex);
    if (Slot(i).probe) {
        Slot(i).probe->SetUrl(address);
    }
    return address;
}

void CMonitorEngine::Shared::CheckSite(int i, const std::string& boxText) {
    SlotState& slot = Slot(i);
    const std::string address = ReadAddressBox(i, boxText);

    std::shared_ptr<CSiteProbe> probe;
    std::uint64_t generation = 0;
    bool created = false;
    {
        std::lock_guard lock(slot.mutex);
        generation = slot.generation;
        if (!slot.probe && !address.empty()) {
            slot.probe = std::make_shared<CSiteProbe>(address);
            created = true;
        }
        probe = slot.probe;
    }
    if (!probe) {
        // Nothing to probe yet: look again after a whole interval.
        FinishCheck(i, generation, TimerPeriod(slot.intervalMinutes.load() * kMinuteMs),
                    CheckReport{i, {}, {}, CheckOutcome::NotChecked, {}, 0.0, {}});
        return;
    }

    // A new address starts from clean statistics.
    const std::string url = probe->Url();
    bool changed = false;
    {
        std::lock_guard lock(slot.mutex);
        changed = url != slot.lastUrl && slot.generation == generation;
        if (changed) {
            ResetSlotData(slot);
            slot.lastUrl = url;
        }
    }
    if (changed) {
        PostToSlot(i, generation, [i](FrontEnd& fe) { ResetPanel(fe, i); });
        IfCurrent(i, generation, [&](SlotState&) { ResetStoredAlertState(i); });
    }
    if (created || changed) {
        // Remember the address at once, not only at the slot's next tick.
        IfCurrent(i, generation, [&](SlotState& s) {
            s.caption = url;
            store->Write(key::kLastWebsite, i, url);
            store->Write(key::kLastWebsiteTitle, i, url);
        });
        PostToSlot(i, generation, [i, url](FrontEnd& fe) { fe.panels.SetCaption(i, url); });
    }

    std::string statusText;
    const double ms = TimeProbe(i, generation, probe, statusText);
    const double warnMs = static_cast<double>(slot.warnMs.load());
    const bool statusOk = statusText == kStatusOk;

    const int barState = !statusOk ? kBarFailed : (ms > warnMs ? kBarSlow : kBarWell);
    const double barValue = ms > 0 ? ms : 0.0;
    PostToSlot(i, generation, [i, barValue, barState](FrontEnd& fe) {
        fe.panels.Graph(i).AddPoint(barValue, barState);
    });

    const std::string s1 = Stamp(clock->LocalNow());
    const std::string errorLog = logs.ErrorLogFile();
    const std::string accessLog = logs.AccessLogFile();
    auto setColour = [&](Colour colour) {
        PostToSlot(i, generation,
                   [i, colour](FrontEnd& fe) { fe.panels.SetStatusColour(i, colour); });
    };

    CheckOutcome outcome;
    if (ms < 0) {
        outcome = CheckOutcome::Unreachable;
        setColour(kColourUnreachable);
        const std::string site = probe->Url();
        WriteLog(i, generation, std::string(text::kLogUnreachable) + site, errorLog);
        RaiseAlert(i, generation, s1, std::string(text::kSubjectAlert) + site,
                   std::string(text::kBodyUnreachable) + s1 + "\n\n" + statusText, false);
    } else if (!statusOk) {
        outcome = CheckOutcome::UnexpectedResponse;
        setColour(kColourUnreachable);
        const std::string site = probe->Url();
        WriteLog(i, generation, std::string(text::kLogUnexpected) + statusText + " " + site,
                 errorLog);
        RaiseAlert(i, generation, s1, std::string(text::kSubjectAlert) + site,
                   std::string(text::kBodyUnexpectedOpen) + statusText +
                       std::string(text::kBodyUnexpectedClose) + s1,
                   true);
    } else if (ms > warnMs) {
        outcome = CheckOutcome::Slow;
        setColour(kColourSlow);
        const std::string site = probe->Url();
        const std::string line = std::string(text::kLogWarning) + site + " " + FormatMs(ms) +
                                 std::string(text::kMsSuffix);
        WriteLog(i, generation, line, accessLog);
        WriteLog(i, generation, line, errorLog);
        // Sent on every slow answer; its result changes nothing.
        SendNotice(i, generation, MailCopy().alertRecipient,
                   std::string(text::kSubjectWarning) + site,
                   std::string(text::kBodySlowOpen) + FormatMs(ms) +
                       std::string(text::kBodySlowClose) + s1);
        HandleRecovery(i, generation, site);
    } else {
        outcome = CheckOutcome::Success;
        const std::string site = probe->Url();
        WriteLog(i, generation,
                 std::string(text::kLogSuccess) + site + " " + FormatMs(ms) +
                     std::string(text::kMsSuffix),
                 accessLog);
        setColour(kColourSuccess);
        HandleRecovery(i, generation, site);
    }

    CheckReport report{i, {}, probe->Url(), outcome, statusText, ms, {}};
    report.lastAccess = UpdateSitePanel(ms, i, generation);
    {
        std::lock_guard lock(slot.mutex);
        report.caption = slot.caption;
    }
    const std::int64_t rearm = (slot.intervalMinutes.load() - std::int64_t{1}) * kMinuteMs + 59'000;
    FinishCheck(i, generation, TimerPeriod(rearm), std::move(report));
}

double CMonitorEngine::Shared::TimeProbe(int i, std::uint64_t generation,
                                         const std::shared_ptr<CSiteProbe>& probe,
                                         std::string& statusText) {
    double result = kFailedMs;
    const std::uint32_t start = clock->TickCount();
    if (probe->GetStatusCode(statusText)) {
        const std::uint32_t end = clock->TickCount();
        result = static_cast<double>(static_cast<std::uint32_t>(end - start));
    }
    const std::string when = Stamp(clock->LocalNow());
    const bool current = IfCurrent(i, generation, [&](SlotState& slot) {
        if (result > slot.graphScale) {
            slot.graphScale = result;
        }
        slot.history.push_back(AccessRecord{result, when});
    });

    std::int32_t state = kStateWell;
    if (result < 0) {
        state = kStateUnreachable;
    } else if (static_cast<double>(Slot(i).warnMs.load()) < result) {
        state = kStateSlow;
    }
    probe->state.store(state);
    if (current) {
        UpdateTraySummary(probe->Url());
    }
    return result;
}

void CMonitorEngine::Shared::UpdateTraySummary(const std::string& address) {
    if (summaryBusy.test_and_set()) {
        return;  // another check is animating the tray
    }
    const std::string tip = std::string(text::kTrayTipPrefix) + address;
    auto show = [this](int icon, std::string tipText) {
        PostToUi([icon, tipText = std::move(tipText)](FrontEnd& fe) {
            fe.tray.SetIconAndTip(icon, tipText);
        });
    };
    for (int frame : ids::kIconFrames) {
        show(frame, tip);
        clock->SleepMs(kTrayFrameMs);
    }
    show(ids::kIconNormal, tip);

    int unreachable = 0;
    int slow = 0;
    for (SlotState& slot : slots) {
        std::lock_guard lock(slot.mutex);
        if (!slot.probe) {
            continue;
        }
        const std::int32_t state = slot.probe->state.load();
        unreachable += state == kStateUnreachable ? 1 : 0;
        slow += state == kStateSlow ? 1 : 0;
    }
    if (unreachable > 0) {
        show(ids::kIconUnreachable, std::string(text::kTrayTipUnreachable));
    } else if (slow > 0) {
        show(ids::kIconSlow, std::string(text::kTrayTipSlow));
    }
    summaryBusy.clear();
}

std::string CMonitorEngine::Shared::UpdateSitePanel(double ms, int i, std::uint64_t generation) {
    PanelUpdate update;
    const std::string now = Stamp(clock->LocalNow());
    const bool current = IfCurrent(i, generation, [&](SlotState& slot) {
        if (slot.history.size() > kHistoryLength) {
            slot.history.pop_front();
        }
        const HistoryScan scan = ScanHistory(slot.history, slot.graphScale);
        slot.graphScale = RoundUpScale(scan.basis);
        update.labels = ScaleLabels(slot.graphScale);
        update.scale = slot.graphScale;
        update.lastAccess = (ms > 0 ? FormatMs(ms) + std::string(text::kMsSuffix)
                                    : std::string(text::kUnavailable)) +
                            now;
        if (scan.best.ms > 0) {
            update.bestAccess =
                FormatMs(scan.best.ms) + std::string(text::kMsSuffix) + scan.best.when;
        }
        if (scan.worst.ms > 0) {
            update.worstAccess =
                FormatMs(scan.worst.ms) + std::string(text::kMsSuffix) + scan.worst.when;
        }
        update.lastAlert = slot.lastAlert;
        update.lastRecovery = slot.lastRecovery;
    });
    if (!current) {
        return {};
    }
    PostToSlot(i, generation, [i, update](FrontEnd& fe) { fe.panels.ApplyPanelUpdate(i, update); });
    return update.lastAccess;
}

void CMonitorEngine::Shared::FinishCheck(int i, std::uint64_t generation, std::uint32_t rearmMs,
                                         CheckReport report) {
    PostToUi([this, i, generation, rearmMs, report = std::move(report)](FrontEnd& fe) {
        bool current = false;
        bool recheck = false;
        {
            std::lock_guard lock(Slot(i).mutex);
            current = Slot(i).generation == generation;
            Slot(i).checkRunning = false;
            recheck = Slot(i).recheckPending;
            Slot(i).recheckPending = false;
        }
        if (current) {
            ArmTimer(ids::PollTimer(i), rearmMs);
            fe.panels.CheckFinished(report);
        }
        if (recheck) {
            ArmTimer(ids::PollTimer(i), kPollButtonMs);
        }
    });
}

void CMonitorEngine::Shared::WriteLog(int i, std::uint64_t generation, const std::string& line,
                                      const std::string& file) {
    IfCurrent(i, generation, [&](SlotState&) { logs.WriteLogLine(line, file); });
}

int CMonitorEngine::Shared::SendNotice(int i, std::uint64_t generation, const std::string& to,
                                       const std::string& subject, const std::string& body) {
    if (!IfCurrent(i, generation, [](SlotState&) {})) {
        return 0;
    }
    return smtp.SendMail(MailCopy().senderEmail, to, subject, body);
}

void CMonitorEngine::Shared::RaiseAlert(int i, std::uint64_t generation, const std::string& stamp,
                                        const std::string& subject, const std::string& body,
                                        bool clearRecovery) {
    if (store->Read(key::kWarned, i) != 0) {
        return;  // this failure streak was dealt with already
    }
    const MailSettings settings = MailCopy();
    const bool mailSetUp = !settings.server.empty();
    const std::string alertText = mailSetUp ? stamp : std::string(text::kAlertNotSent);
    const bool current = IfCurrent(i, generation, [&](SlotState& slot) {
        slot.lastAlert = alertText;
        store->Write(key::kLastAlert, i, alertText);
        if (clearRecovery) {
            slot.lastRecovery.clear();
            store->Write(key::kLastRecovery, i, "");
        }
        if (!mailSetUp) {
            store->Write(key::kWarned, i, 1);
        }
    });
    if (!current || !mailSetUp) {
        return;
    }
    if (SendNotice(i, generation, settings.alertRecipient, subject, body) != 0) {
        IfCurrent(i, generation, [&](SlotState&) { store->Write(key::kWarned, i, 1); });
    }
}

void CMonitorEngine::Shared::HandleRecovery(int i, std::uint64_t generation,
                                            const std::string& address) {
    if (store->Read(key::kWarned, i) == 0) {
        return;
    }
    const std::string s2 = Stamp(clock->LocalNow());
    const MailSettings settings = MailCopy();
    const bool mailSetUp = !settings.server.empty();
    const std::string recoveryText = mailSetUp ? s2 : std::string(text::kRecoveryNotSent);
    const bool current = IfCurrent(i, generation, [&](SlotState& slot) {
        slot.lastRecovery = recoveryText;
        store->Write(key::kLastRecovery, i, recoveryText);
        if (!mailSetUp) {
            store->Write(key::kWarned, i, 0);
        }
    });
    if (!current || !mailSetUp) {
        return;
    }
    if (SendNotice(i, generation, settings.recoveryRecipient,
                   std::string(text::kSubjectRecovery) + address,
                   std::string(text::kBodyRecovered) + s2) != 0) {
        IfCurrent(i, generation, [&](SlotState&) { store->Write(key::kWarned, i, 0); });
    }
}

// ---------------------------------------------------------------- engine

CMonitorEngine::CMonitorEngine(FrontEnd frontEnd, std::shared_ptr<SettingsStore> store,
                               std::shared_ptr<IClock> clock)
    : shared_(std::make_shared<Shared>(frontEnd, std::move(store), std::move(clock))) {}

CMonitorEngine::~CMonitorEngine() {
    Shutdown();
}

void CMonitorEngine::LoadSettings() {
    Shared& s = *shared_;
    SettingsStore& store = *s.store;
    for (int i = 0; i < kSlotCount; ++i) {
        s.Slot(i).intervalMinutes = store.Read(key::kInterval, i);
        s.Slot(i).warnMs = store.Read(key::kWarn, i);
        s.frontEnd.panels.SetIntervalBoxText(i, std::to_string(s.Slot(i).intervalMinutes.load()));
        s.frontEnd.panels.SetWarningBoxText(i, std::to_string(s.Slot(i).warnMs.load()));
    }
    s.emailPromptPending = true;
    s.startHidden = store.Read(key::kStartHidden) != 0;
    s.logs.SetDoAccessLog(store.Read(key::kDoAccessLog) != 0);
    s.logs.SetDoErrorLog(store.Read(key::kDoErrorLog) != 0);

    MailSettings mail;
    mail.senderName = store.Read(key::kSmtpName);
    mail.username = store.Read(key::kSmtpUsername);
    mail.password = store.Read(key::kSmtpPassword);
    mail.server = store.Read(key::kSmtp);
    mail.authenticate = store.Read(key::kSmtpAuth) != 0;
    mail.alertRecipient = store.Read(key::kSmtpAlert);
    mail.senderEmail = store.Read(key::kSmtpEmail);
    mail.recoveryRecipient = store.Read(key::kSmtpRecovery);
    SetMail(mail);

    std::string accessLog = store.Read(key::kAccessLogFile);
    std::string errorLog = store.Read(key::kErrorLogFile);
    if (accessLog.empty() || errorLog.empty()) {
        const LogPaths defaults = DefaultLogPaths();
        if (accessLog.empty()) {
            accessLog = defaults.accessLog;
            store.Write(key::kAccessLogFile, accessLog);
        }
        if (errorLog.empty()) {
            errorLog = defaults.errorLog;
            store.Write(key::kErrorLogFile, errorLog);
        }
    }
    s.logs.SetAccessLogFile(accessLog);
    s.logs.SetErrorLogFile(errorLog);

    for (int i = 0; i < kSlotCount; ++i) {
        SlotState& slot = s.Slot(i);
        {
            std::lock_guard lock(slot.mutex);
            slot.probe.reset();
            const std::string address = store.Read(key::kLastWebsite, i);
            if (!address.empty()) {
                slot.probe = std::make_shared<CSiteProbe>(address);
                slot.probe->SetUrl(store.Read(key::kLastWebsiteTitle, i));
                slot.lastUrl = slot.probe->Url();
                slot.lastAlert = store.Read(key::kLastAlert, i);
                slot.lastRecovery = store.Read(key::kLastRecovery, i);
            }
            slot.graphScale = kInitialGraphScale;
        }
        Shared::PrepareGraph(s.frontEnd.panels.Graph(i));
    }
}

void CMonitorEngine::Start() {
    shared_->ArmTimer(ids::kStartupTimer, kStartupTimerMs);
    for (int i = 0; i < kSlotCount; ++i) {
        shared_->ArmTimer(ids::PollTimer(i), kFirstPollMs[i]);
    }
}

bool CMonitorEngine::OnTimer(int id) {
    if (id == ids::kStartupTimer) {
        StartupTick();
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
    return TimerTick(slot);
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
    }

    const std::string address = Trim(s.frontEnd.panels.AddressBoxText(i));
    if (address.empty() || address == text::kAddressPlaceholders[static_cast<std::size_t>(i)]) {
        return false;  // idle until the Poll button or the arrows arm the timer again
    }
    const std::string warnText = s.frontEnd.panels.WarningBoxText(i);
    if (!warnText.empty()) {
        slot.warnMs = LeadingInt(warnText);
        s.store->Write(key::kWarn, i, slot.warnMs.load());
    }

    bool hasAddress = false;
    {
        std::lock_guard lock(slot.mutex);
        if (slot.probe && !slot.probe->Url().empty()) {
            slot.probe->SetUrl(address);
            slot.caption = address;
            hasAddress = true;
        }
    }
    if (hasAddress) {
        s.frontEnd.panels.SetCaption(i, address);
        s.store->Write(key::kLastWebsite, i, address);
        s.store->Write(key::kLastWebsiteTitle, i, address);
    }

    {
        std::lock_guard lock(slot.mutex);
        if (slot.checkRunning) {
            slot.recheckPending = true;  // checked again as soon as this check ends
            return true;
        }
        slot.checkRunning = true;
    }
    // Counted before the thread starts, so that a shutdown never misses it.
    s.activeChecks.fetch_add(1);
    try {
        std::thread([shared = shared_, i, address] {
            LowerThreadPriority();
            shared->CheckSite(i, address);
            shared->activeChecks.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        s.activeChecks.fetch_sub(1);
        {
            std::lock_guard lock(slot.mutex);
            slot.checkRunning = false;
        }
        s.ArmTimer(ids::PollTimer(i), TimerPeriod(slot.intervalMinutes.load() * kMinuteMs));
        return false;
    }
    return true;
}

void CMonitorEngine::OnPollButton(int slot) {
    shared_->frontEnd.timers.Kill(ids::PollTimer(slot));
    shared_->ArmTimer(ids::PollTimer(slot), kPollButtonMs);
}

int CMonitorEngine::OnIntervalDelta(int i, int delta) {
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
    s.store->Write(key::kInterval, i, value);
    s.Slot(i).intervalMinutes = value;
    s.frontEnd.timers.Kill(ids::PollTimer(i));
    s.ArmTimer(ids::PollTimer(i), TimerPeriod(minutes * kMinuteMs));
    return 0;
}

void CMonitorEngine::ResetSite(int i) {
    Shared& s = *shared_;
    {
        std::lock_guard lock(s.Slot(i).mutex);
        s.ResetSlotData(s.Slot(i));
    }
    Shared::ResetPanel(s.frontEnd, i);
    s.ResetStoredAlertState(i);
}

void CMonitorEngine::RemoveSite(int i) {
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
    s.frontEnd.timers.Kill(ids::PollTimer(i));
    {
        // From here a running check of this slot drops its results.
        std::lock_guard lock(slot.mutex);
        slot.probe.reset();
        ++slot.generation;
        slot.recheckPending = false;
        slot.caption = DefaultCaption(i);
    }
    s.store->Write(key::kLastWebsite, i, "");
    s.store->Write(key::kLastWebsiteTitle, i, "");
    s.frontEnd.panels.SetCaption(i, DefaultCaption(i));
    s.frontEnd.panels.SetAddressBoxText(i, "");
    s.frontEnd.panels.FocusAddressBox(i);
    ResetSite(i);
    s.frontEnd.shell.ApplyLayout();
}

void CMonitorEngine::Shutdown() {
    Shared& s = *shared_;
    if (s.shutDown) {
        return;
    }
    s.shutDown = true;
    s.stopping = true;
    s.frontEnd.timers.Kill(ids::kStartupTimer);
    for (int i = 0; i < kSlotCount; ++i) {
        s.frontEnd.timers.Kill(ids::PollTimer(i));
    }
    for (int wait = 0; wait < kShutdownWaits && s.activeChecks.load() > 0; ++wait) {
        s.clock->SleepMs(kShutdownWaitMs);
    }
    s.gate.Close();
    // Checks that outlived the wait keep their own references to what they use.
    for (SlotState& slot : s.slots) {
        std::lock_guard lock(slot.mutex);
        slot.probe.reset();
        slot.history.clear();
    }
}

std::int32_t CMonitorEngine::ActiveChecks() const {
    return shared_->activeChecks.load();
}

bool CMonitorEngine::IsMonitored(int i) const {
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).probe != nullptr;
}

std::string CMonitorEngine::SiteAddress(int i) const {
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).probe ? shared_->Slot(i).probe->Url() : std::string();
}

std::int32_t CMonitorEngine::IntervalMinutes(int i) const {
    return shared_->Slot(i).intervalMinutes.load();
}

std::int32_t CMonitorEngine::WarnMs(int i) const {
    return shared_->Slot(i).warnMs.load();
}

double CMonitorEngine::GraphScale(int i) const {
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).graphScale;
}

std::size_t CMonitorEngine::HistorySize(int i) const {
    std::lock_guard lock(shared_->Slot(i).mutex);
    return shared_->Slot(i).history.size();
}

MailSettings CMonitorEngine::Mail() const {
    return shared_->MailCopy();
}

void CMonitorEngine::SetMail(const MailSettings& settings) {
    {
        std::lock_guard lock(shared_->mailMutex);
        shared_->mail = settings;
    }
    shared_->smtp.SetAccount({.server = settings.server,
                              .authenticate = settings.authenticate,
                              .username = settings.username,
                              .password = settings.password,
                              .senderName = settings.senderName,
                              .senderEmail = settings.senderEmail});
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
