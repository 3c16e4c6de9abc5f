// The engine's state shared between the front-end thread and the check
// workers. Internal to the engine: front ends use CMonitorEngine.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/alert_track.h"
#include "engine/frontend.h"
#include "engine/frontend_gate.h"
#include "engine/metrics_file.h"
#include "engine/monitor_engine.h"
#include "engine/notice_outbox.h"
#include "engine/resume_network.h"
#include "engine/site_stats.h"
#include "engine/system_watch.h"
#include "logs/log_writer.h"
#include "mail/smtp_client.h"
#include "platform/clock.h"
#include "probe/site_probe.h"
#include "secrets/keyring.h"
#include "settings/settings_store.h"
#include "settings/store_watcher.h"

namespace orvalin {

struct SlotState {
    // Guards the fields below; held only for short steps, never while calling
    // the front end, the store, the logs or the network.
    mutable std::mutex mutex;
    std::shared_ptr<CSiteProbe> probe;  // empty: the slot is not monitored
    double graphScale = kInitialGraphScale;
    AccessHistory history;
    std::string lastAlert;
    std::string lastRecovery;
    std::string lastUrl;
    std::string caption;
    bool checkRunning = false;
    bool recheckPending = false;  // a tick came due while the check ran
    AlertTrack track;

    std::atomic<std::int32_t> intervalMinutes{0};
    std::atomic<std::int32_t> warnMs{0};

    // Raised by removal, on the front-end thread: a check that began before it
    // drops its results.
    std::atomic<std::uint64_t> generation{0};
    // Held by a check while it writes the store for the slot, and by removal
    // while it raises the generation and clears the stored site, so that no
    // check can write the site back after it was removed.
    std::mutex commitMutex;
};

struct CMonitorEngine::Shared : IMessageBox, std::enable_shared_from_this<Shared> {
    Shared(FrontEnd fe, std::shared_ptr<SettingsStore> settings, std::shared_ptr<IClock> time,
           std::shared_ptr<IKeyring> secrets);

    SlotState& Slot(int i) { return slots[static_cast<std::size_t>(i)]; }

    // ---- the front end (frontend_access.cpp) ----

    // The mail client's boxes and the email test's results go to the front
    // end while it is attached.
    void ShowWarning(const std::string& textToShow) override;
    // Runs work on the front-end thread while the front end is attached.
    void PostToUi(std::function<void(FrontEnd&)> work);
    void PostToUiAfter(std::uint32_t ms, std::function<void(FrontEnd&)> work);
    // As PostToUi, but dropped when the slot was removed after generation.
    void PostToSlot(int i, std::uint64_t generation, std::function<void(FrontEnd&)> work);
    // Front-end thread: arms a timer unless the engine is stopping.
    void ArmTimer(int id, std::uint32_t ms);

    bool IsCurrent(int i, std::uint64_t generation) const;
    // Runs action under the slot's lock when the check that took generation
    // still owns the slot and the engine still runs. False otherwise.
    template <typename Action>
    bool UpdateIfCurrent(int i, std::uint64_t generation, Action&& action) {
        std::lock_guard lock(Slot(i).mutex);
        if (!IsCurrent(i, generation)) {
            return false;
        }
        action(Slot(i));
        return true;
    }
    // Runs writes (store, logs) for the slot when the check is still current,
    // outside the slot's lock. False when they were dropped.
    template <typename Writes>
    bool CommitIfCurrent(int i, std::uint64_t generation, Writes&& writes) {
        std::lock_guard lock(Slot(i).commitMutex);
        if (!IsCurrent(i, generation)) {
            return false;
        }
        writes();
        return true;
    }

    // ---- the check, on the slot's worker thread (check_pipeline.cpp) ----

    std::string ReadAddressBox(int i, const std::string& boxText);
    void CheckSite(int i, std::uint64_t generation, const std::string& boxText);
    // Times one exchange of probe with url (the address the check took).
    // hold: what becomes of the result before it is judged; a held result
    // is not recorded.
    double TimeProbe(int i, std::uint64_t generation, CSiteProbe& probe, const std::string& url,
                     std::string& statusText, CheckHold& hold);
    // cause: why the check failed, when the probe said; shown with the time.
    std::string UpdateSitePanel(double ms, const std::string& cause, int i,
                                std::uint64_t generation);
    void FinishCheck(int i, std::uint64_t generation, std::uint32_t rearmMs, CheckReport report);
    void WriteLog(int i, std::uint64_t generation, const std::string& line,
                  const std::string& file);
    // Starts a worker for one check; false when no thread could be started.
    bool StartWorker(int i, std::uint64_t generation, const std::string& address);

    // ---- the metrics file (site_metrics.cpp) ----

    // After a check that probed url: its result into the metrics file, when
    // there is one.
    void RecordMetrics(int i, std::uint64_t generation, const std::string& url,
                       CheckOutcome outcome, double ms);

    // ---- notices (notices.cpp) ----

    int SendNotice(int i, std::uint64_t generation, const std::string& to,
                   const std::string& subject, const std::string& body);
    void RaiseAlert(int i, std::uint64_t generation, const std::string& stamp,
                    const std::string& subject, const std::string& body, bool clearRecovery);
    void HandleRecovery(int i, std::uint64_t generation, const std::string& address);
    // Runs job on a worker thread counted in mailJobs; false when none started.
    bool StartMailJob(std::function<void()> job);

    // ---- confirmation, episodes, reminders, snooze (alert_flow.cpp) ----

    AlertSettings AlertCopy() const;
    bool Snoozed();
    bool SnoozedIn(const SettingsSnapshot& values);
    bool SnoozedUntil(const std::string& snoozeUntil);
    // Counts a failing or good answer; true when the alert or recovery is
    // due now (confirmed and not snoozed). Otherwise a re-probe may be asked for.
    bool FailureConfirmed(int i, std::uint64_t generation, const AlertSettings& alerts);
    bool RecoveryConfirmed(int i, std::uint64_t generation, const std::string& address,
                           const AlertSettings& alerts);
    // "Down for 1h 12m (since ...)." for the outage in progress, or empty.
    std::string DownForLine(int i);
    void RemindIfDue(int i, std::uint64_t generation, const AlertSettings& alerts);
    void SendSlowWarning(int i, std::uint64_t generation, const std::string& subject,
                         const std::string& body);
    void NoteOutcome(int i, std::uint64_t generation, CheckOutcome outcome);
    // Whether the check that ran asked for a re-probe, and how soon it comes.
    bool TakeReprobe(int i);
    std::uint32_t ReprobeMs(std::uint32_t rearmMs) const;
    // The store after a notice went out.
    void NoticeSent(const OutgoingNotice& notice);
    // Front-end thread.
    void ArmSnoozeEnd();
    void OnSnoozeEndTimer();
    void ReleaseSnoozed();

    // ---- notices going out (notice_outbox.cpp) ----

    // Sends now, or queues for GroupSeconds; shown to the front end as it goes.
    void Deliver(OutgoingNotice notice);
    void SendTogether(std::vector<OutgoingNotice> sameKind);
    // Sends what is queued, one mail per kind.
    void FlushOutbox();
    void OnGroupTimer();

    // ---- the tray (tray_summary.cpp) ----

    void UpdateTraySummary(const std::string& address);
    void ShowTrayStep(std::size_t step, std::string tip);
    // The summary's icon and tip, with "Alerts snoozed until HH:MM" while
    // snoozed; remembered, so that a snooze's start and end redraw it.
    void SetSummaryTip(int icon, const std::string& tip);
    void RedrawSummaryTip();

    // ---- reset (site_reset.cpp) ----

    static void ResetSlotData(SlotState& slot);
    void ResetStoredAlertState(int i);
    static void PrepareGraph(IResponseGraph& graph);
    static void ResetPanel(FrontEnd& fe, int i);
    // Front-end thread: the slot stops being checked. Its timer goes, a
    // running check drops its results, and with forgetStored the stored
    // address is cleared too. True when the slot had a site.
    bool EndMonitoring(int i, bool forgetStored);

    // ---- what other programs change in the store (settings_takeover.cpp) ----

    void WatchStore();
    void StopWatchingStore();
    // On the watcher's thread: reads what changed and posts it to TakeOver.
    void OnStoreChanged();
    // Front-end thread.
    void TakeOver(FrontEnd& fe, const StoreChanges& changes);
    void TakeOverSlot(FrontEnd& fe, int i, const StoreChanges& changes);
    void MonitorAddress(FrontEnd& fe, int i, const std::string& address);

    // ---- the mail password in the keyring (password_keeping.cpp) ----

    // Runs job on a worker counted in mailJobs, one keyring job at a time.
    bool StartKeyringJob(std::function<void(Shared&)> job);
    // Worker: moves a password the store holds into the keyring, or reads the
    // one the keyring keeps into the mail copy.
    void SyncWithKeyring();
    // Worker: files the password the email setup saved (before: the settings
    // it replaced); toKeyring: the store was given an empty one.
    void FilePassword(const MailSettings& before, const MailSettings& after, bool toKeyring);
    // The mail client's look-up before a mail that logs in.
    std::optional<std::string> FreshPassword(const SmtpAccount& account);
    // Sets the copy's password when the copy still names owner and holds
    // expected.
    void UseKeyringPassword(const PasswordOwner& owner, const std::string& expected,
                            const std::string& password);
    void NoteKeyring(const KeyringAnswer& answer);

    MailSettings MailCopy() const;
    void UseMail(const MailSettings& settings);
    void UseLogSettings(const LogSettings& settings);

    FrontEnd frontEnd;
    std::shared_ptr<SettingsStore> store;
    std::shared_ptr<IClock> clock;
    CLogWriter logs;
    CSmtpClient smtp;
    std::array<SlotState, kSlotCount> slots;
    JobCounter checks;    // activeChecks
    JobCounter mailJobs;  // email tests and mails sent for the front end
    MetricsFile metrics;
    NoticeOutbox outbox;
    std::atomic_flag summaryBusy;
    FrontEndGate gate;
    std::atomic<bool> stopping{false};
    ThreadStarter startThread = StartDetachedThread;
    mutable std::mutex mailMutex;  // guards mail and the client's account
    MailSettings mail;
    std::shared_ptr<IKeyring> keyring;  // null: the store keeps the password
    std::mutex keyringJobMutex;         // held by the keyring job that runs
    // Passwords the email setup saved that are not yet in the keyring: until
    // then the held copy is newer than the keyring's item.
    std::atomic<int> filingsPending{0};
    mutable std::mutex placeMutex;
    PasswordPlace passwordPlace;
    mutable std::mutex storeProblemMutex;
    std::string storeProblem;  // why the store could not be read at start-up
    std::unique_ptr<StoreWatcher> watcher;
    ResumeState wake;  // sleeps and the network (resume_network.cpp)
    std::unique_ptr<SystemWatch> systemWatch;
    // Front-end thread only.
    bool emailPromptPending = true;
    bool startHidden = false;
    bool shutDown = false;
    int summaryIcon = 0;  // 0 until a summary was shown
    std::string summaryTip;
};

std::string DefaultCaption(int slot);
std::string Trim(const std::string& text);
// The mail and log settings as the store holds them; empty log file names
// are the default logs.
MailSettings MailSettingsOf(const SettingsSnapshot& store);
LogSettings LogSettingsOf(const SettingsSnapshot& store);
SmtpAccount AccountOf(const MailSettings& settings);
// The alert settings as the store holds them, clamped to their ranges.
AlertSettings AlertSettingsOf(const SettingsSnapshot& store);
// SnoozeUntil's form, "YYYY-MM-DD HH:MM" in local time, and back (nothing for
// any other text).
std::string SnoozeText(std::chrono::system_clock::time_point until);
std::optional<std::chrono::system_clock::time_point> SnoozeTime(const std::string& text);
// The site of a slot as the store holds it: empty when lastWebsite is.
std::string StoredSite(const SettingsSnapshot& store, int slot);

}  // namespace orvalin
