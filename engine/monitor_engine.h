// The monitoring engine: four site slots, each polled by its own timer on a
// short-lived worker thread; every check is timed, judged, logged, mailed and
// shown through the front end.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/frontend.h"
#include "logs/log_writer.h"
#include "mail/smtp_client.h"
#include "platform/clock.h"
#include "secrets/keyring.h"
#include "settings/settings_store.h"

namespace orvalin {

// The main window's copies of the mail settings.
struct MailSettings {
    std::string server;  // empty: notices are not set up
    bool authenticate = false;
    std::string username;
    std::string password;
    std::string senderName;
    std::string senderEmail;
    std::string alertRecipient;
    std::string recoveryRecipient;
    bool verifyTls = true;  // SMTPTLSVerify: check the server's certificate
};

// The log writer's four settings.
struct LogSettings {
    bool doAccessLog = true;
    bool doErrorLog = true;
    std::string accessLogFile;
    std::string errorLogFile;
};

// Where the mail password is kept, as the engine last learnt it.
struct PasswordPlace {
    bool keyring = false;   // in the keyring; otherwise in the settings store
    std::string problem;    // why the keyring could not be used, when it could not
    std::string storeFile;  // the settings store's path
};

// The alert settings of the "Alert settings..." dialog, all in section Settings.
struct AlertSettings {
    int confirmFailures = 1;     // ConfirmFailures 1..10
    int confirmRecoveries = 1;   // ConfirmRecoveries 1..10
    int confirmSeconds = 20;     // ConfirmSeconds 5..600
    int slowWarnings = 0;        // SlowWarnings 0 (every slow answer) or 1 (one per episode)
    int remindHours = 0;         // RemindHours 0..168, 0 never
    int groupSeconds = 0;        // GroupSeconds 0..300, 0 one mail per notice
    bool desktopNotices = true;  // DesktopNotices 1
    friend bool operator==(const AlertSettings&, const AlertSettings&) = default;
};

// A message to send for the front end.
struct MailMessage {
    std::string from;
    std::string to;
    std::string subject;
    std::string body;
};

inline constexpr std::uint32_t kTrayFrameMs = 120;
// At exit, running checks are waited for this long (100 times 100 ms).
inline constexpr std::chrono::milliseconds kShutdownWait{10'000};
// ...and calls into the front end that are still running, this long.
inline constexpr std::chrono::milliseconds kFrontEndDetachWait{5'000};

// The default way to start a worker: a new detached thread per job. False
// when the system refuses one.
bool StartDetachedThread(std::function<void()> job);

class CMonitorEngine {
  public:
    // With a keyring, the mail password is kept there (see SaveMailSettings
    // and Start) and looked up again before each mail that logs in; without
    // one, the store keeps it.
    CMonitorEngine(FrontEnd frontEnd, std::shared_ptr<SettingsStore> store,
                   std::shared_ptr<IClock> clock, std::shared_ptr<IKeyring> keyring = nullptr);
    ~CMonitorEngine();
    CMonitorEngine(const CMonitorEngine&) = delete;
    CMonitorEngine& operator=(const CMonitorEngine&) = delete;

    // Start-up: intervals and thresholds into the boxes, log and mail
    // settings (an empty log file name becomes the default and is written
    // back), the start-hidden flag and the four slots, from one snapshot of
    // the store, read waiting at most readWait for another program's lock. A
    // store that cannot be read gives the defaults, is not written, and the
    // first-run email prompt is not offered; StoreProblem then says why.
    void LoadSettings(std::chrono::milliseconds readWait = SettingsStore::kDefaultBusyTimeout);
    // Empty when the store could be read at LoadSettings; the reason otherwise.
    std::string StoreProblem() const;
    // Arms the start-up timer and the four first polls, and from then on
    // takes over what other programs commit to the store: a slot's address
    // (checked at once, or no longer checked), interval and threshold, and
    // the mail and log settings. With a keyring, a mail password the store
    // holds is moved into it, and one the keyring keeps is read, on a worker.
    void Start();

    // Timer 245 and 312 to 315; false for any other id.
    bool OnTimer(int id);
    // Runs the slot's poll tick now. True when it started a check, or will
    // start one as soon as the slot's running check ends.
    bool PollNow(int slot);
    void OnPollButton(int slot);
    // An interval arrow proposes a change of delta (up: -1, down: +1).
    // Returns the answer to the notification, 0.
    int OnIntervalDelta(int slot, int delta);
    void ResetSite(int slot);
    void RemoveSite(int slot);

    // The program is ending, from the moment its end is asked for: no tick
    // runs and no timer is armed from now on, no mail job starts, no change
    // of the store is taken over, and the front end's boxes return at once.
    // Shutdown follows.
    void RequestStop();
    // RequestStop, then stops watching the store, waits for running checks
    // and mail jobs (at most shutdownWait) and detaches the front end: no
    // front-end call is made after it returns.
    void Shutdown();
    std::chrono::milliseconds shutdownWait = kShutdownWait;  // tests shorten it

    std::int32_t ActiveChecks() const;
    // Checks and mail jobs still running: after Shutdown, those that outlived
    // its wait and end only with the process.
    std::int32_t RunningJobs() const;
    bool IsMonitored(int slot) const;
    std::string SiteAddress(int slot) const;  // the probe's address, or empty
    std::int32_t IntervalMinutes(int slot) const;
    std::int32_t WarnMs(int slot) const;
    double GraphScale(int slot) const;
    std::size_t HistorySize(int slot) const;

    MailSettings Mail() const;
    // The in-memory copy only (as loaded at start-up).
    void SetMail(const MailSettings& settings);
    // The email setup's OK: the in-memory copy, then the store, key by key:
    // SMTPName, SMTPEmail, SMTPUsername, SMTPPassword, SMTP, SMTPAuth,
    // SMTPAlert, SMTPRecovery (queued: the call never waits for the file).
    // Where the keyring was usable, SMTPPassword is stored empty and the
    // password goes into the keyring on a worker (into the store after all
    // when that fails); otherwise the store keeps it, and the worker tries to
    // move it into the keyring.
    void SaveMailSettings(const MailSettings& settings);
    PasswordPlace MailPasswordPlace() const;
    LogSettings Logging() const;
    // The log settings' OK: the log writer, then the store: DoAccessLog,
    // DoErrorLog, AccessLogFile, ErrorLogFile (queued). The next line uses them.
    void SaveLogSettings(const LogSettings& settings);

    // The email test with the in-memory settings, on a worker thread: the
    // alert test, its result box, and when it passed the recovery test and its
    // result box. Boxes go through IUserDialogs::ShowWarning on the worker;
    // done runs on the front-end thread when the test has ended. False when
    // the test could not be started (no thread, or the engine is stopping).
    bool RunEmailTest(std::function<void()> done);
    // Sends one message on a worker thread; done(result of SendMail) runs on
    // the front-end thread. False when it could not be started.
    bool SendMailInBackground(MailMessage message, std::function<void(int sent)> done);

    // Clamped to their ranges as read (a clamped value is used, never stored back).
    AlertSettings Alerts() const;
    // The dialog's OK: in use at once, written to the store in one queued batch.
    void SaveAlertSettings(const AlertSettings& settings);

    // Snooze. until: local time; alerts and notices are held until then.
    // Written to SnoozeUntil as "YYYY-MM-DD HH:MM" (queued). Resume clears it
    // and releases what was held, as the end of a snooze does.
    void SnoozeAlerts(std::chrono::system_clock::time_point until);
    void ResumeAlerts();
    // The end of the snooze in force, or nothing.
    std::optional<std::chrono::system_clock::time_point> SnoozedUntil() const;

    // "Check now": every monitored site is checked at once, as its Poll button does.
    void CheckAllNow();

    // Hints a front end may give when it learns them from the system (logind's
    // PrepareForSleep(false), NetworkManager's connectivity): the engine
    // treats them as it treats its own discoveries (resume: log the gap and run
    // the checks that fell due; network back: check the skipped sites at once).
    // Front-end thread only; harmless when repeated or wrong.
    void SystemResumed();
    void NetworkChanged();

    void SetStartHidden(bool on);
    // From then on every check rewrites the metrics file at path (see
    // engine/metrics_file.h); empty: none, the default. Called before Start.
    void SetMetricsFile(const std::string& path);

    // Starts a detached thread running job; false when none could be started.
    // Checks and mail jobs start their workers through it (a new thread per
    // job unless replaced).
    using ThreadStarter = std::function<bool(std::function<void()> job)>;
    void SetThreadStarter(ThreadStarter starter);
    CLogWriter& Logs();
    CSmtpClient& Smtp();

    struct Shared;  // state shared with the check workers

  private:
    bool TimerTick(int slot);
    void StartupTick();

    std::shared_ptr<Shared> shared_;
};

}  // namespace orvalin
