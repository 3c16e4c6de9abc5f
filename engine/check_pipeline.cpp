// One check of a site, on the slot's worker thread: probe, time, judge,
// log, notify, update the panel and re-arm the poll timer.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "engine/engine_state.h"
#include "engine/poll_periods.h"
#include "platform/printable_text.h"
#include "platform/site_address.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

inline constexpr int kWorkerNiceIncrement = 5;
inline constexpr std::string_view kStatusOk = "200";

void LowerThreadPriority() {
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, self, current + kWorkerNiceIncrement);
    }
}

// " (cause)" after the address of a failure whose cause the probe named
// ("TLS: certificate has expired", "Could not resolve url"); nothing otherwise.
std::string CauseSuffix(const std::string& cause) {
    return cause.empty() ? std::string() : " (" + EscapeControlBytes(cause) + ")";
}

}  // namespace

bool StartDetachedThread(std::function<void()> job) {
    try {
        std::thread(std::move(job)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool CMonitorEngine::Shared::StartWorker(int i, std::uint64_t generation,
                                         const std::string& address) {
    // Counted before the thread starts, so that a shutdown never misses it.
    checks.Add();
    const bool started = startThread([self = shared_from_this(), i, generation, address] {
        LowerThreadPriority();
        self->CheckSite(i, generation, address);
        self->checks.Done();
    });
    if (!started) {
        checks.Done();
    }
    return started;
}

std::string CMonitorEngine::Shared::ReadAddressBox(int i, const std::string& boxText) {
    std::string address = CleanAddress(boxText);
    if (address.empty() || address == text::kAddressPlaceholders[static_cast<std::size_t>(i)]) {
        return {};
    }
    std::lock_guard lock(Slot(i).mutex);
    if (Slot(i).probe) {
        Slot(i).probe->SetUrl(address);
    }
    return address;
}

void CMonitorEngine::Shared::CheckSite(int i, std::uint64_t generation,
                                       const std::string& boxText) {
    SlotState& slot = Slot(i);
    const std::string address = ReadAddressBox(i, boxText);

    std::shared_ptr<CSiteProbe> probe;
    bool created = false;
    {
        std::lock_guard lock(slot.mutex);
        // A slot removed since the tick keeps no probe, and gets none back
        // from the address its tick read.
        if (slot.generation.load() == generation) {
            if (!slot.probe && !address.empty()) {
                slot.probe = std::make_shared<CSiteProbe>(address);
                created = true;
            }
            probe = slot.probe;
        }
    }
    if (!probe) {
        // Nothing to probe yet: look again after a whole interval.
        FinishCheck(i, generation, FullIntervalMs(slot.intervalMinutes.load()),
                    CheckReport{i, {}, {}, CheckOutcome::NotChecked, {}, 0.0, {}});
        return;
    }

    // The address this check probes. Everything it logs, mails, shows and
    // reports names this one, even when another is entered while it runs.
    const std::string url = probe->Url();

    // A new address starts from clean statistics.
    bool changed = false;
    {
        std::lock_guard lock(slot.mutex);
        changed = url != slot.lastUrl && slot.generation.load() == generation;
        if (changed) {
            ResetSlotData(slot);
            slot.lastUrl = url;
        }
    }
    if (changed) {
        PostToSlot(i, generation, [i](FrontEnd& fe) { ResetPanel(fe, i); });
        CommitIfCurrent(i, generation, [&] { ResetStoredAlertState(i); });
    }
    if (created || changed) {
        // Remember the address at once, not only at the slot's next tick.
        UpdateIfCurrent(i, generation, [&](SlotState& s) { s.caption = url; });
        CommitIfCurrent(i, generation, [&] {
            store->Queue(
                SettingsBatch().Set(key::kLastWebsite, i, url).Set(key::kLastWebsiteTitle, i, url));
        });
        PostToSlot(i, generation, [i, url](FrontEnd& fe) { fe.panels.SetCaption(i, url); });
    }

    // Read at every check, so that a change of the setting applies at once.
    probe->mode = ProbeModeFromSetting(store->Read(key::kProbeMode));
    if (WaitForNetworkAfterResume(*this, i, generation, url)) {
        return;
    }
    std::string statusText;
    CheckHold hold = CheckHold::kNone;
    const double ms = TimeProbe(i, generation, *probe, url, statusText, hold);
    if (hold != CheckHold::kNone) {
        FinishHeldCheck(*this, i, generation, url, hold);
        return;
    }
    const std::string cause = ms < 0 ? statusText : std::string();
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
    const std::string& site = url;
    if (ms < 0) {
        outcome = CheckOutcome::Unreachable;
        setColour(kColourUnreachable);
        WriteLog(i, generation, std::string(text::kLogUnreachable) + site + CauseSuffix(cause),
                 errorLog);
        RaiseAlert(i, generation, s1, std::string(text::kSubjectAlert) + site,
                   std::string(text::kBodyUnreachable) + s1 + "\n\n" + statusText, false);
    } else if (!statusOk) {
        outcome = CheckOutcome::UnexpectedResponse;
        setColour(kColourUnreachable);
        WriteLog(i, generation, std::string(text::kLogUnexpected) + statusText + " " + site,
                 errorLog);
        RaiseAlert(i, generation, s1, std::string(text::kSubjectAlert) + site,
                   std::string(text::kBodyUnexpectedOpen) + statusText +
                       std::string(text::kBodyUnexpectedClose) + s1,
                   true);
    } else if (ms > warnMs) {
        outcome = CheckOutcome::Slow;
        setColour(kColourSlow);
        const std::string line = std::string(text::kLogWarning) + site + " " + FormatMs(ms) +
                                 std::string(text::kMsSuffix);
        WriteLog(i, generation, line, accessLog);
        WriteLog(i, generation, line, errorLog);
        // Sent on every slow answer (or once per episode); its result changes nothing.
        SendSlowWarning(i, generation, std::string(text::kSubjectWarning) + site,
                        std::string(text::kBodySlowOpen) + FormatMs(ms) +
                            std::string(text::kBodySlowClose) + s1);
        HandleRecovery(i, generation, site);
    } else {
        outcome = CheckOutcome::Success;
        WriteLog(i, generation,
                 std::string(text::kLogSuccess) + site + " " + FormatMs(ms) +
                     std::string(text::kMsSuffix),
                 accessLog);
        setColour(kColourSuccess);
        HandleRecovery(i, generation, site);
    }

    NoteOutcome(i, generation, outcome);

    CheckReport report{i, {}, url, outcome, statusText, ms, {}};
    report.lastAccess = UpdateSitePanel(ms, cause, i, generation);
    {
        std::lock_guard lock(slot.mutex);
        report.caption = slot.caption;
    }
    RecordMetrics(i, generation, url, outcome, ms);
    // An alert or recovery waiting for confirmation is re-probed soon.
    report.confirming = TakeReprobe(i);
    const std::uint32_t rearmMs = RearmAfterCheckMs(slot.intervalMinutes.load());
    FinishCheck(i, generation, report.confirming ? ReprobeMs(rearmMs) : rearmMs, std::move(report));
}

double CMonitorEngine::Shared::TimeProbe(int i, std::uint64_t generation, CSiteProbe& probe,
                                         const std::string& url, std::string& statusText,
                                         CheckHold& hold) {
    double result = kFailedMs;
    const std::chrono::nanoseconds start = clock->Monotonic();
    if (probe.Exchange(url, statusText)) {
        result = AnswerMs(clock->Monotonic() - start);
    }
    // A result that is not judged leaves no trace in the statistics.
    hold = HoldBeforeJudging(*this, i, url, result, statusText);
    if (hold != CheckHold::kNone) {
        return result;
    }
    const std::string when = Stamp(clock->LocalNow());
    const bool current = UpdateIfCurrent(i, generation, [&](SlotState& slot) {
        if (result > slot.graphScale) {
            slot.graphScale = result;
        }
        slot.history.push_back(AccessRecord{result, when});
    });

    // The tray counts a site failing whenever its check fails: no answer, or
    // an answer other than "200".
    std::int32_t state = kStateWell;
    if (result < 0 || statusText != kStatusOk) {
        state = kStateUnreachable;
    } else if (static_cast<double>(Slot(i).warnMs.load()) < result) {
        state = kStateSlow;
    }
    probe.state.store(state);
    if (current) {
        UpdateTraySummary(url);
    }
    return result;
}

std::string CMonitorEngine::Shared::UpdateSitePanel(double ms, const std::string& cause, int i,
                                                    std::uint64_t generation) {
    PanelUpdate update;
    update.cause = cause;
    const std::string now = Stamp(clock->LocalNow());
    const bool current = UpdateIfCurrent(i, generation, [&](SlotState& slot) {
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
        bool recheck = false;
        {
            std::lock_guard lock(Slot(i).mutex);
            Slot(i).checkRunning = false;
            recheck = Slot(i).recheckPending;
            Slot(i).recheckPending = false;
        }
        if (Slot(i).generation.load() == generation) {
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
    CommitIfCurrent(i, generation, [&] { logs.WriteLogLine(line, file); });
}

}  // namespace orvalin
