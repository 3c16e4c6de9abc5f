// Qt widgets under test: the application on the offscreen platform, waiting
// with the event loop running, answering modal dialogs as a user would, and
// a monitoring engine over a minimal Qt front end with the real settings
// store in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/monitor_engine.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace orvalin::test {

// The process's size in address space (VmSize), in bytes.
std::uint64_t VirtualSize();

// Runs the event loop until done() holds or limit has passed; done() once more.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// Once a visible modal widget of type T is active, runs act on it from the
// event loop, as a user would answer it. Fails the test when none comes.
template <typename T>
void WhenModal(std::function<void(T*)> act,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

// A message box as the user saw it.
struct SeenBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};
// Answers the next message box with button; the result fills in once it came.
std::shared_ptr<SeenBox> AnswerNextBox(QMessageBox::StandardButton button);
// Answers the next boxes one after the other, each with its button.
std::vector<std::shared_ptr<SeenBox>> AnswerBoxes(
    const std::vector<QMessageBox::StandardButton>& buttons);

// The front end an engine needs, over the GUI thread: posted work runs from
// the event loop; boxes raised by the engine are recorded and return at once.
// Posted work waits in a queue under a std::mutex that a timer on the GUI
// thread drains, so ThreadSanitizer sees the hand-off (Qt's own queue is
// not instrumented). Make it on the GUI thread.
class QtTestFrontEnd final : public IPanelView,
                             public ITrayView,
                             public IUserDialogs,
                             public IShellCommands,
                             public ITimerHost,
                             public IUiDispatcher,
                             public IResponseGraph {
  public:
    QtTestFrontEnd();
    FrontEnd Parts() { return FrontEnd{*this, *this, *this, *this, *this, *this}; }
    std::vector<std::string> Warnings();

    // IUiDispatcher
    void Post(std::function<void()> work) override;
    void PostAfter(std::uint32_t ms, std::function<void()> work) override;
    // IUserDialogs
    void ShowWarning(const std::string& text) override;
    bool AskYesNo(const std::string&) override { return false; }
    void BeginClosing() override {}
    // The rest is not used by these dialogs.
    std::string AddressBoxText(int) override { return {}; }
    void SetAddressBoxText(int, const std::string&) override {}
    void FocusAddressBox(int) override {}
    std::string WarningBoxText(int) override { return {}; }
    void SetWarningBoxText(int, const std::string&) override {}
    std::string IntervalBoxText(int) override { return {}; }
    void SetIntervalBoxText(int, const std::string&) override {}
    void SetCaption(int, const std::string&) override {}
    void SetStatusColour(int, std::optional<Colour>) override {}
    void ClearPanelTexts(int) override {}
    void ApplyPanelUpdate(int, const PanelUpdate&) override {}
    IResponseGraph& Graph(int) override { return *this; }
    void CheckFinished(const CheckReport&) override {}
    bool HasTray() const override { return false; }
    void SetIconAndTip(int, const std::string&) override {}
    void OpenEmailSettings() override {}
    void HideWindow() override {}
    void ApplyLayout() override {}
    void Arm(int, std::uint32_t) override {}
    void Kill(int) override {}
    void AddPoint(double, int) override {}
    void ClearData() override {}
    void SetScale(double) override {}
    void SetLabels(const std::array<std::string, kLabelDivisions>&) override {}
    void SetLabelWidth(int) override {}
    void SetLabelCount(int) override {}
    void SetDirection(int) override {}
    void SetLabelSide(int) override {}

  private:
    void RunPosted();

    std::mutex mutex_;
    std::vector<std::string> warnings_;
    std::vector<std::function<void()>> posted_;
    QTimer pump_;
};

// An engine over QtTestFrontEnd with its settings store and logs in a
// temporary folder (XDG folders pointed there too) and the clock standing
// at 03/14/2004 09:05:07.
class EngineFixture {
  public:
    EngineFixture();
    ~EngineFixture();

    std::string AccessLog() const { return (dir / "access.log").string(); }
    std::string ErrorLog() const { return (dir / "error.log").string(); }

    TempDir dir;
    ScopedEnv configHome;
    ScopedEnv stateHome;
    std::shared_ptr<SettingsStore> store;
    std::shared_ptr<FakeClock> clock;
    QtTestFrontEnd ui;
    std::unique_ptr<CMonitorEngine> engine;
};

// The order in which keys were written to the store from now on, recorded
// by a trigger in its database.
class StoreWriteLog {
  public:
    explicit StoreWriteLog(SettingsStore& store);
    // Once the store's queued writes have landed.
    std::vector<std::string> Keys() const;

  private:
    SettingsStore& store_;
    std::string dbFile_;
};

template <typename T>
void WhenModal(std::function<void(T*)> act, std::chrono::milliseconds limit) {
    auto* timer = new QTimer(qApp);
    auto started = std::chrono::steady_clock::now();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, started, limit] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
            widget != nullptr && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(widget);
        } else if (std::chrono::steady_clock::now() - started > limit) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " came up";
        }
    });
    timer->start(10);
}

}  // namespace orvalin::test
