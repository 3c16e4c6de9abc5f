// What the monitoring engine needs from a front end. The desktop program
// implements these over its widgets, the headless monitor over the terminal,
// the tests over recorders. Unless a method says otherwise the engine calls
// it on the front-end thread only: the thread that calls the engine's own
// handlers (OnTimer, OnPollButton, ...). Workers reach the front end through
// IUiDispatcher::Post.
//
// Lifetime: the engine keeps references to these objects. Destroy (or at
// least Shutdown) the engine before any of them; after Shutdown returns the
// engine makes no further call into them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/site_stats.h"
#include "platform/message_box.h"

namespace orvalin {

struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr Colour kColourUnreachable{255, 0, 0};
inline constexpr Colour kColourSlow{253, 255, 48};
inline constexpr Colour kColourSuccess{0, 255, 0};

// Bar states of the response-time graph.
enum GraphState : int { kBarWell = 0, kBarSlow = 1, kBarFailed = 2 };

// The result of one check, as shown after it in one piece.
struct PanelUpdate {
    std::array<std::string, kLabelDivisions> labels;
    double scale = kInitialGraphScale;
    std::string lastAccess;
    std::optional<std::string> bestAccess;   // nullopt: leave the text as it is
    std::optional<std::string> worstAccess;  // nullopt: leave the text as it is
    std::string lastAlert;
    std::string lastRecovery;
    // Why the check failed, when the probe could say ("TLS: certificate has
    // expired", "Could not resolve url"); empty for an answer or a failure
    // without a named cause.
    std::string cause;
};

// NoNetwork: the machine had no route to the site, so it was not judged.
enum class CheckOutcome { NotChecked, Success, Slow, UnexpectedResponse, Unreachable, NoNetwork };

// Told to the front end when a check of a slot has ended.
struct CheckReport {
    int slot = 0;
    std::string caption;
    std::string address;
    CheckOutcome outcome = CheckOutcome::NotChecked;
    std::string statusText;  // the status code, or for a failure its cause (or empty)
    double ms = 0.0;
    std::string lastAccess;  // the panel's "Last access:" text
    // A re-probe follows in ConfirmSeconds to confirm this outcome (an alert
    // or a recovery not yet confirmed): the outcome is not final.
    bool confirming = false;
};

// What a notice is about; the front end shows it as it likes (the desktop as
// a desktop notification). Subject and body are the mail's own texts.
enum class NoticeKind { Alert, Recovery, SlowWarning, Reminder };

struct Notice {
    NoticeKind kind = NoticeKind::Alert;
    // The slots of the sites it is about, in slot order (several when
    // grouped). Not named "slots": Qt defines that word as a macro.
    std::vector<int> siteSlots;
    std::string subject;  // as the mail's subject ("Alert - ADDRESS", "Alert - 3 websites", ...)
    std::string body;     // as the mail's body
};

// The response-time graph of one panel.
class IResponseGraph {
  public:
    virtual ~IResponseGraph() = default;
    virtual void AddPoint(double value, int state) = 0;
    virtual void ClearData() = 0;
    virtual void SetScale(double scale) = 0;
    virtual void SetLabels(const std::array<std::string, kLabelDivisions>& labels) = 0;
    virtual void SetLabelWidth(int pixels) = 0;
    virtual void SetLabelCount(int count) = 0;
    virtual void SetDirection(int newestLeft) = 0;
    virtual void SetLabelSide(int left) = 0;
};

// The four website panels: their boxes, texts, status label and graph.
class IPanelView {
  public:
    virtual ~IPanelView() = default;
    virtual std::string AddressBoxText(int slot) = 0;
    virtual void SetAddressBoxText(int slot, const std::string& text) = 0;
    virtual void FocusAddressBox(int slot) = 0;
    virtual std::string WarningBoxText(int slot) = 0;
    virtual void SetWarningBoxText(int slot, const std::string& text) = 0;
    virtual std::string IntervalBoxText(int slot) = 0;
    virtual void SetIntervalBoxText(int slot, const std::string& text) = 0;
    virtual void SetCaption(int slot, const std::string& caption) = 0;
    // nullopt: the system's standard face colour.
    virtual void SetStatusColour(int slot, std::optional<Colour> colour) = 0;
    // Empties the five texts (last, best, worst, alert, recovery).
    virtual void ClearPanelTexts(int slot) = 0;
    // Labels, scale and texts together, so that no paint sees half of them.
    virtual void ApplyPanelUpdate(int slot, const PanelUpdate& update) = 0;
    virtual IResponseGraph& Graph(int slot) = 0;
    virtual void CheckFinished(const CheckReport& report) = 0;
};

class ITrayView {
  public:
    virtual ~ITrayView() = default;
    // False when there is no notification area to show an icon in: the
    // engine then skips the tray animation and summary altogether.
    virtual bool HasTray() const = 0;
    virtual void SetIconAndTip(int iconId, const std::string& tip) = 0;
    // A notice the engine sends now (or would send, without email set up),
    // after confirmation, grouping and snooze have had their say; called on
    // the front-end thread, whether or not email is set up, and only while
    // the setting DesktopNotices is 1. Alerts, recoveries and reminders as
    // they go out by mail; a slow warning only for the first slow answer of
    // a slow episode.
    virtual void ShowNotice(const Notice&) {}
};

// Message boxes. ShowWarning (from IMessageBox) is also called from worker
// threads (the mail client's boxes, the email test's results): it blocks the
// caller until the box is closed. Once BeginClosing has been called, boxes
// that are showing or waiting to be shown, and every later ShowWarning,
// return at once.
class IUserDialogs : public IMessageBox {
  public:
    // A Yes/No question; true only for Yes. Front-end thread only.
    virtual bool AskYesNo(const std::string& text) = 0;
    // The program is ending; called by the engine's Shutdown before it waits
    // for running checks.
    virtual void BeginClosing() = 0;
};

// Commands of the main window the engine runs.
class IShellCommands {
  public:
    virtual ~IShellCommands() = default;
    // The "Email settings" command; modal, returns when its dialog closes.
    virtual void OpenEmailSettings() = 0;
    virtual void HideWindow() = 0;
    virtual void ApplyLayout() = 0;
};

// One-shot timers by id; each fires once, on the front-end thread, by a call
// to CMonitorEngine::OnTimer. Arming an armed timer replaces its period.
class ITimerHost {
  public:
    virtual ~ITimerHost() = default;
    virtual void Arm(int id, std::uint32_t ms) = 0;
    virtual void Kill(int id) = 0;
};

// Hands work to the front-end thread. Post and PostAfter may be called from
// any thread and never wait; posted work runs later, in the order posted.
class IUiDispatcher {
  public:
    virtual ~IUiDispatcher() = default;
    virtual void Post(std::function<void()> work) = 0;
    // Runs work on the front-end thread about ms milliseconds from now.
    virtual void PostAfter(std::uint32_t ms, std::function<void()> work) = 0;
};

struct FrontEnd {
    IPanelView& panels;
    ITrayView& tray;
    IUserDialogs& dialogs;
    IShellCommands& shell;
    ITimerHost& timers;
    IUiDispatcher& ui;
};

}  // namespace orvalin
