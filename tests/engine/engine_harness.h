// A monitoring engine over a recording front end, a controllable clock and
// timer host, and the real settings store in a temporary folder.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/monitor_engine.h"
#include "support/fake_clock.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace orvalin::test {

inline constexpr const char* kStamp = " on 03/14/2004 at 09:05:07";
inline constexpr const char* kLogStamp = "<03/14/2004 09:05:07> ";

struct PanelCall {
    int slot;
    std::string what;  // "colour", "clear", "update", "point", "caption", ...
    std::string detail;
};

class RecordingFrontEnd;

// Records the graph calls of one panel into its front end.
class RecordingGraph final : public IResponseGraph {
  public:
    RecordingGraph(RecordingFrontEnd& owner, int slot) : owner_(owner), slot_(slot) {}
    void AddPoint(double value, int state) override;
    void ClearData() override;
    void SetScale(double scale) override;
    void SetLabels(const std::array<std::string, kLabelDivisions>& labels) override;
    void SetLabelWidth(int pixels) override;
    void SetLabelCount(int count) override;
    void SetDirection(int newestLeft) override;
    void SetLabelSide(int left) override;

  private:
    RecordingFrontEnd& owner_;
    int slot_;
};

class RecordingFrontEnd final : public IPanelView,
                                public ITrayView,
                                public IUserDialogs,
                                public IShellCommands,
                                public ITimerHost,
                                public IUiDispatcher {
  public:
    RecordingFrontEnd();

    // Boxes, as the user typed them.
    void Type(int slot, const std::string& address);
    void TypeWarning(int slot, const std::string& text);
    void TypeInterval(int slot, const std::string& text);

    // IPanelView
    std::string AddressBoxText(int slot) override;
    void SetAddressBoxText(int slot, const std::string& text) override;
    void FocusAddressBox(int slot) override;
    std::string WarningBoxText(int slot) override;
    void SetWarningBoxText(int slot, const std::string& text) override;
    std::string IntervalBoxText(int slot) override;
    void SetIntervalBoxText(int slot, const std::string& text) override;
    void SetCaption(int slot, const std::string& caption) override;
    void SetStatusColour(int slot, std::optional<Colour> colour) override;
    void ClearPanelTexts(int slot) override;
    void ApplyPanelUpdate(int slot, const PanelUpdate& update) override;
    IResponseGraph& Graph(int slot) override;
    void CheckFinished(const CheckReport& report) override;

    // ITrayView
    bool HasTray() const override;
    void SetIconAndTip(int iconId, const std::string& tip) override;
    void ShowNotice(const Notice& notice) override;
    // IUserDialogs
    void ShowWarning(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void BeginClosing() override;
    // IShellCommands
    void OpenEmailSettings() override;
    void HideWindow() override;
    void ApplyLayout() override;
    // ITimerHost
    void Arm(int id, std::uint32_t ms) override;
    void Kill(int id) override;
    // IUiDispatcher: posted work runs at once, on the posting thread; delayed
    // work waits for RunDelayed.
    void Post(std::function<void()> work) override;
    void PostAfter(std::uint32_t ms, std::function<void()> work) override;
    // Runs the delayed work in order of its due time on a virtual clock,
    // including work posted meanwhile; returns each due time counted from the
    // call.
    std::vector<std::uint64_t> RunDelayed();

    std::atomic<bool> hasTray{true};
    int closingNotices = 0;
    // ShowWarning blocks its caller until BeginClosing, as a box shown on
    // another thread would.
    std::atomic<bool> boxesWaitForClosing{false};
    bool WaitForWarnings(std::size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Called from inside the question, the email settings dialog and each
    // panel update, as a front end's own event handling would.
    std::function<void()> onQuestion;
    std::function<void()> onEmailSettings;
    std::function<void(int slot)> onPanelUpdate;
    std::atomic<bool> answerYes{true};

    // Recorded calls.
    std::vector<PanelCall> Calls(int slot);
    std::vector<std::pair<int, std::string>> Tray();
    std::vector<Notice> Notices();
    std::vector<std::string> Warnings();
    std::vector<std::string> Questions();
    std::vector<CheckReport> Reports();
    std::optional<PanelUpdate> LastUpdate(int slot);
    std::string Caption(int slot);
    // Armed timers: id to period; a killed timer is absent.
    std::map<int, std::uint32_t> Timers();
    int emailPrompts = 0;
    int hides = 0;
    int layouts = 0;
    void Forget();  // drops everything recorded so far

    bool WaitForReports(std::size_t count,
                        std::chrono::milliseconds limit = std::chrono::seconds(30));

  private:
    struct Boxes {
        std::string address, warning, interval, caption;
    };

    std::mutex mutex_;
    std::condition_variable reported_;
    std::array<Boxes, kSlotCount> boxes_;
    std::vector<std::unique_ptr<RecordingGraph>> graphs_;
    std::map<int, std::vector<PanelCall>> calls_;
    std::map<int, PanelUpdate> updates_;
    std::vector<std::pair<int, std::string>> tray_;
    std::vector<Notice> notices_;
    std::vector<std::string> warnings_, questions_;
    std::vector<CheckReport> reports_;
    std::map<int, std::uint32_t> timers_;
    std::multimap<std::uint64_t, std::function<void()>> delayed_;
    std::uint64_t virtualNowMs_ = 0;

    friend class RecordingGraph;
    void Record(int slot, std::string what, std::string detail);
};

// One nginx for all the engine tests that need a site that answers.
NginxServer& SharedSite();

// The engine with its surroundings, logs in the temporary folder.
class EngineHarness {
  public:
    EngineHarness();
    ~EngineHarness();

    SettingsStore& Store() { return *store; }
    std::string AccessLog() const { return (dir / "access.log").string(); }
    std::string ErrorLog() const { return (dir / "error.log").string(); }
    std::string AccessLogText() const { return ReadFileBytes(AccessLog()); }
    std::string ErrorLogText() const { return ReadFileBytes(ErrorLog()); }

    // Keeps address in the store as the slot's site, as an earlier run would.
    void StoreSite(int slot, const std::string& address);
    // Loads the store into the engine (as at start-up).
    void Load();
    // Points notices at an SMTP server ("" leaves mail unset up).
    void SetMailServer(const std::string& server);
    // One tick of the slot's poll timer; waits until its check has ended.
    CheckReport Check(int slot);

    TempDir dir;
    ScopedEnv stateHome;
    std::shared_ptr<SettingsStore> store;
    std::shared_ptr<FakeClock> clock;
    RecordingFrontEnd ui;
    std::unique_ptr<CMonitorEngine> engine;
};

}  // namespace orvalin::test
