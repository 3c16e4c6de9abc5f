// The monitoring engine: four site slots, each polled by its own timer on a
// short-lived worker thread; every check is timed, judged, logged, mailed and
// shown through the front end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/frontend.h"
#include "logs/log_writer.h"
#include "mail/smtp_client.h"
#include "platform/clock.h"
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
};

inline constexpr std::uint32_t kStartupTimerMs = 40;
inline constexpr std::uint32_t kFirstPollMs[] = {300, 350, 400, 450};
inline constexpr std::uint32_t kPollButtonMs = 100;
inline constexpr std::uint32_t kTrayFrameMs = 120;
inline constexpr int kShutdownWaits = 100;
inline constexpr std::uint32_t kShutdownWaitMs = 100;
// An empty interval box counts as this many minutes when an arrow is used.
inline constexpr int kEmptyIntervalMinutes = 5;

class CMonitorEngine {
  public:
    CMonitorEngine(FrontEnd frontEnd, std::shared_ptr<SettingsStore> store,
                   std::shared_ptr<IClock> clock);
    ~CMonitorEngine();
    CMonitorEngine(const CMonitorEngine&) = delete;
    CMonitorEngine& operator=(const CMonitorEngine&) = delete;

    // Start-up: intervals and thresholds into the boxes, log and mail
    // settings (an empty log file name becomes the default and is written
    // back), the start-hidden flag and the four slots, from the store.
    void LoadSettings();
    // Arms the start-up timer and the four first polls.
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

    // Stops arming timers, waits for running checks (at most 100 x 100 ms)
    // and detaches the front end: no front-end call is made after it returns.
    void Shutdown();

    std::int32_t ActiveChecks() const;
    bool IsMonitored(int slot) const;
    std::string SiteAddress(int slot) const;  // the probe's address, or empty
    std::int32_t IntervalMinutes(int slot) const;
    std::int32_t WarnMs(int slot) const;
    double GraphScale(int slot) const;
    std::size_t HistorySize(int slot) const;

    MailSettings Mail() const;
    void SetMail(const MailSettings& settings);
    void SetStartHidden(bool on);
    CLogWriter& Logs();
    CSmtpClient& Smtp();

    struct Shared;  // state shared with the check workers

  private:
    bool TimerTick(int slot);
    void StartupTick();

    std::shared_ptr<Shared> shared_;
};

}  // namespace orvalin
