// The front end of the headless monitor: no window, so the address boxes
// hold what the engine puts there, check results go to standard output as
// one line each, and message boxes go to standard error without waiting.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "engine/frontend.h"
#include "headless/journal_stream.h"
#include "settings/settings_keys.h"

namespace orvalin {

// How a headless run ends; monitoring tools read these exit codes.
inline constexpr int kExitAllWell = 0;
inline constexpr int kExitSomeSlow = 1;
inline constexpr int kExitSomeFailing = 2;
inline constexpr int kExitNoSite = 3;
// --once: no site could be judged because the machine had no network.
inline constexpr int kExitNoNetwork = 3;
inline constexpr int kExitInterrupted = 4;  // --once ended by a signal before its result
inline constexpr int kExitStoreUnreadable = 5;
inline constexpr int kExitNoThread = 6;  // the system refused a thread at start-up
inline constexpr int kExitUsage = 64;

// The word printed for an outcome.
std::string_view OutcomeWord(CheckOutcome outcome);
// The exit code for the worst of a run's outcomes.
int ExitCodeFor(CheckOutcome worst);

class HeadlessFrontEnd final : public IPanelView,
                               public ITrayView,
                               public IUserDialogs,
                               public IShellCommands {
  public:
    // errIsJournal: every line on err begins with its priority for the journal.
    HeadlessFrontEnd(std::ostream& out, std::ostream& err, bool errIsJournal = false)
        : out_(out), err_(err), errIsJournal_(errIsJournal) {}

    // Called on the front-end thread after every check that ran.
    std::function<void(const CheckReport&)> onCheckFinished;

    // IPanelView
    std::string AddressBoxText(int slot) override { return Box(slot).address; }
    void SetAddressBoxText(int slot, const std::string& text) override { Box(slot).address = text; }
    void FocusAddressBox(int) override {}
    std::string WarningBoxText(int slot) override { return Box(slot).warning; }
    void SetWarningBoxText(int slot, const std::string& text) override { Box(slot).warning = text; }
    std::string IntervalBoxText(int slot) override { return Box(slot).interval; }
    void SetIntervalBoxText(int slot, const std::string& text) override {
        Box(slot).interval = text;
    }
    void SetCaption(int, const std::string&) override {}
    void SetStatusColour(int, std::optional<Colour>) override {}
    void ClearPanelTexts(int) override {}
    void ApplyPanelUpdate(int, const PanelUpdate&) override {}
    IResponseGraph& Graph(int) override { return noGraph_; }
    void CheckFinished(const CheckReport& report) override;

    // ITrayView: there is none.
    bool HasTray() const override { return false; }
    void SetIconAndTip(int, const std::string&) override {}

    // IUserDialogs: printed, never waited for; a question is answered No.
    void ShowWarning(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void BeginClosing() override {}

    // IShellCommands
    void OpenEmailSettings() override;
    void HideWindow() override {}
    void ApplyLayout() override {}

  private:
    struct Boxes {
        std::string address;
        std::string warning;
        std::string interval;
    };
    class NoGraph final : public IResponseGraph {
      public:
        void AddPoint(double, int) override {}
        void ClearData() override {}
        void SetScale(double) override {}
        void SetLabels(const std::array<std::string, kLabelDivisions>&) override {}
        void SetLabelWidth(int) override {}
        void SetLabelCount(int) override {}
        void SetDirection(int) override {}
        void SetLabelSide(int) override {}
    };

    Boxes& Box(int slot) { return boxes_[static_cast<std::size_t>(slot)]; }
    void PrintError(const std::string& text, Priority priority);

    std::ostream& out_;
    std::ostream& err_;
    bool errIsJournal_;
    std::mutex errMutex_;  // boxes come from check workers too
    std::array<Boxes, kSlotCount> boxes_;
    bool emailHintShown_ = false;
    NoGraph noGraph_;
};

}  // namespace orvalin
