#include "engine/engine_harness.h"

#include <sstream>
#include <thread>

#include "resources/resource_ids.h"
#include "support/fixed_moment.h"

namespace orvalin::test {

// ---------------------------------------------------------------- graph

namespace {
std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}
}  // namespace

void RecordingGraph::AddPoint(double value, int state) {
    owner_.Record(slot_, "point", Number(value) + "/" + std::to_string(state));
}
void RecordingGraph::ClearData() {
    owner_.Record(slot_, "cleardata", "");
}
void RecordingGraph::SetScale(double scale) {
    owner_.Record(slot_, "scale", Number(scale));
}
void RecordingGraph::SetLabels(const std::array<std::string, kLabelDivisions>& labels) {
    std::string all;
    for (const auto& label : labels) {
        all += label + "|";
    }
    owner_.Record(slot_, "labels", all);
}
void RecordingGraph::SetLabelWidth(int pixels) {
    owner_.Record(slot_, "labelwidth", std::to_string(pixels));
}
void RecordingGraph::SetLabelCount(int count) {
    owner_.Record(slot_, "labelcount", std::to_string(count));
}
void RecordingGraph::SetDirection(int newestLeft) {
    owner_.Record(slot_, "direction", std::to_string(newestLeft));
}
void RecordingGraph::SetLabelSide(int left) {
    owner_.Record(slot_, "labelside", std::to_string(left));
}

// ---------------------------------------------------------------- front end

RecordingFrontEnd::RecordingFrontEnd() {
    for (int i = 0; i < kSlotCount; ++i) {
        graphs_.push_back(std::make_unique<RecordingGraph>(*this, i));
    }
}

void RecordingFrontEnd::Record(int slot, std::string what, std::string detail) {
    std::lock_guard lock(mutex_);
    calls_[slot].push_back({slot, std::move(what), std::move(detail)});
}

void RecordingFrontEnd::Type(int slot, const std::string& address) {
    std::lock_guard lock(mutex_);
    boxes_[static_cast<std::size_t>(slot)].address = address;
}
void RecordingFrontEnd::TypeWarning(int slot, const std::string& text) {
    std::lock_guard lock(mutex_);
    boxes_[static_cast<std::size_t>(slot)].warning = text;
}
void RecordingFrontEnd::TypeInterval(int slot, const std::string& text) {
    std::lock_guard lock(mutex_);
    boxes_[static_cast<std::size_t>(slot)].interval = text;
}

std::string RecordingFrontEnd::AddressBoxText(int slot) {
    std::lock_guard lock(mutex_);
    return boxes_[static_cast<std::size_t>(slot)].address;
}
void RecordingFrontEnd::SetAddressBoxText(int slot, const std::string& text) {
    Type(slot, text);
    Record(slot, "address", text);
}
void RecordingFrontEnd::FocusAddressBox(int slot) {
    Record(slot, "focus", "");
}
std::string RecordingFrontEnd::WarningBoxText(int slot) {
    std::lock_guard lock(mutex_);
    return boxes_[static_cast<std::size_t>(slot)].warning;
}
void RecordingFrontEnd::SetWarningBoxText(int slot, const std::string& text) {
    TypeWarning(slot, text);
}
std::string RecordingFrontEnd::IntervalBoxText(int slot) {
    std::lock_guard lock(mutex_);
    return boxes_[static_cast<std::size_t>(slot)].interval;
}
void RecordingFrontEnd::SetIntervalBoxText(int slot, const std::string& text) {
    TypeInterval(slot, text);
}
void RecordingFrontEnd::SetCaption(int slot, const std::string& caption) {
    {
        std::lock_guard lock(mutex_);
        boxes_[static_cast<std::size_t>(slot)].caption = caption;
    }
    Record(slot, "caption", caption);
}
void RecordingFrontEnd::SetStatusColour(int slot, std::optional<Colour> colour) {
    Record(slot, "colour",
           colour ? std::to_string(colour->red) + "," + std::to_string(colour->green) + "," +
                        std::to_string(colour->blue)
                  : "face");
}
void RecordingFrontEnd::ClearPanelTexts(int slot) {
    Record(slot, "cleartexts", "");
}
void RecordingFrontEnd::ApplyPanelUpdate(int slot, const PanelUpdate& update) {
    {
        std::lock_guard lock(mutex_);
        updates_[slot] = update;
    }
    Record(slot, "update", update.lastAccess);
    if (onPanelUpdate) {
        onPanelUpdate(slot);
    }
}
IResponseGraph& RecordingFrontEnd::Graph(int slot) {
    return *graphs_[static_cast<std::size_t>(slot)];
}
void RecordingFrontEnd::CheckFinished(const CheckReport& report) {
    std::lock_guard lock(mutex_);
    reports_.push_back(report);
    reported_.notify_all();
}

void RecordingFrontEnd::SetIconAndTip(int iconId, const std::string& tip) {
    std::lock_guard lock(mutex_);
    tray_.emplace_back(iconId, tip);
}
void RecordingFrontEnd::ShowNotice(const Notice& notice) {
    std::lock_guard lock(mutex_);
    notices_.push_back(notice);
}
std::vector<Notice> RecordingFrontEnd::Notices() {
    std::lock_guard lock(mutex_);
    return notices_;
}
void RecordingFrontEnd::ShowWarning(const std::string& text) {
    std::unique_lock lock(mutex_);
    warnings_.push_back(text);
    reported_.notify_all();
    if (boxesWaitForClosing.load()) {
        // As a box on another thread does: the caller waits until it closes.
        reported_.wait(lock, [this] { return closingNotices > 0; });
    }
}
bool RecordingFrontEnd::AskYesNo(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        questions_.push_back(text);
    }
    if (onQuestion) {
        onQuestion();
    }
    return answerYes.load();
}
void RecordingFrontEnd::OpenEmailSettings() {
    {
        std::lock_guard lock(mutex_);
        ++emailPrompts;
    }
    if (onEmailSettings) {
        onEmailSettings();
    }
}
void RecordingFrontEnd::HideWindow() {
    std::lock_guard lock(mutex_);
    ++hides;
}
void RecordingFrontEnd::ApplyLayout() {
    std::lock_guard lock(mutex_);
    ++layouts;
}
void RecordingFrontEnd::Arm(int id, std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    timers_[id] = ms;
}
void RecordingFrontEnd::Kill(int id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}
void RecordingFrontEnd::Post(std::function<void()> work) {
    work();
}
void RecordingFrontEnd::PostAfter(std::uint32_t ms, std::function<void()> work) {
    std::lock_guard lock(mutex_);
    delayed_.emplace(virtualNowMs_ + ms, std::move(work));
}
bool RecordingFrontEnd::HasTray() const {
    return hasTray.load();
}
void RecordingFrontEnd::BeginClosing() {
    std::lock_guard lock(mutex_);
    ++closingNotices;
    reported_.notify_all();
}
bool RecordingFrontEnd::WaitForWarnings(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return reported_.wait_for(lock, limit, [&] { return warnings_.size() >= count; });
}
std::vector<std::uint64_t> RecordingFrontEnd::RunDelayed() {
    std::vector<std::uint64_t> times;
    std::uint64_t start = 0;
    {
        std::lock_guard lock(mutex_);
        start = virtualNowMs_;
    }
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (delayed_.empty()) {
                return times;
            }
            auto next = delayed_.begin();
            virtualNowMs_ = next->first;
            times.push_back(next->first - start);
            work = std::move(next->second);
            delayed_.erase(next);
        }
        work();
    }
}

std::vector<PanelCall> RecordingFrontEnd::Calls(int slot) {
    std::lock_guard lock(mutex_);
    return calls_[slot];
}
std::vector<std::pair<int, std::string>> RecordingFrontEnd::Tray() {
    std::lock_guard lock(mutex_);
    return tray_;
}
std::vector<std::string> RecordingFrontEnd::Warnings() {
    std::lock_guard lock(mutex_);
    return warnings_;
}
std::vector<std::string> RecordingFrontEnd::Questions() {
    std::lock_guard lock(mutex_);
    return questions_;
}
std::vector<CheckReport> RecordingFrontEnd::Reports() {
    std::lock_guard lock(mutex_);
    return reports_;
}
std::optional<PanelUpdate> RecordingFrontEnd::LastUpdate(int slot) {
    std::lock_guard lock(mutex_);
    const auto found = updates_.find(slot);
    if (found == updates_.end()) {
        return std::nullopt;
    }
    return found->second;
}
std::string RecordingFrontEnd::Caption(int slot) {
    std::lock_guard lock(mutex_);
    return boxes_[static_cast<std::size_t>(slot)].caption;
}
std::map<int, std::uint32_t> RecordingFrontEnd::Timers() {
    std::lock_guard lock(mutex_);
    return timers_;
}
void RecordingFrontEnd::Forget() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    updates_.clear();
    tray_.clear();
    notices_.clear();
    warnings_.clear();
    questions_.clear();
}

bool RecordingFrontEnd::WaitForReports(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return reported_.wait_for(lock, limit, [&] { return reports_.size() >= count; });
}

// ---------------------------------------------------------------- harness

NginxServer& SharedSite() {
    static NginxServer server;
    return server;
}

EngineHarness::EngineHarness()
    : stateHome("XDG_STATE_HOME", (dir / "state").string()),
      store(std::make_shared<SettingsStore>(dir / "settings.db")),
      clock(std::make_shared<FakeClock>()) {
    store->Write(key::kAccessLogFile, AccessLog());
    store->Write(key::kErrorLogFile, ErrorLog());
    engine = std::make_unique<CMonitorEngine>(FrontEnd{ui, ui, ui, ui, ui, ui}, store, clock);
}

EngineHarness::~EngineHarness() {
    clock->ReleaseSleeps();
    // Let checks still running end before their surroundings go.
    for (int wait = 0; wait < 3000 && engine->ActiveChecks() > 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    engine.reset();
}

void EngineHarness::StoreSite(int slot, const std::string& address) {
    store->Write(key::kLastWebsite, slot, address);
    store->Write(key::kLastWebsiteTitle, slot, address);
}

void EngineHarness::Load() {
    engine->LoadSettings();
}

void EngineHarness::SetMailServer(const std::string& server) {
    store->Write(key::kSmtp, server);
    store->Write(key::kSmtpEmail, "monitor@orvalin.test");
    store->Write(key::kSmtpAlert, "alerts@orvalin.test");
    store->Write(key::kSmtpRecovery, "recovery@orvalin.test");
    MailSettings mail = engine->Mail();
    mail.server = server;
    mail.senderEmail = "monitor@orvalin.test";
    mail.alertRecipient = "alerts@orvalin.test";
    mail.recoveryRecipient = "recovery@orvalin.test";
    engine->SetMail(mail);
}

CheckReport EngineHarness::Check(int slot) {
    const std::size_t before = ui.Reports().size();
    engine->OnTimer(ids::PollTimer(slot));
    if (!ui.WaitForReports(before + 1)) {
        return CheckReport{slot, {}, {}, CheckOutcome::NotChecked, "timed out", 0.0, {}};
    }
    return ui.Reports().back();
}

}  // namespace orvalin::test
