// The engine's timers and its way onto the GUI thread, over Qt's event loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "engine/frontend.h"

namespace orvalin::desktop {

// One single-shot QTimer per id; a due timer calls onFire(id) on the GUI
// thread. Periods beyond what a QTimer takes at once are waited in parts.
class QtTimerHost final : public QObject, public ITimerHost {
    Q_OBJECT
  public:
    explicit QtTimerHost(QObject* parent = nullptr) : QObject(parent) {}

    std::function<void(int id)> onFire;

    void Arm(int id, std::uint32_t ms) override;
    void Kill(int id) override;
    bool IsArmed(int id) const;
    // The period left before the timer fires; -1 when it is not armed.
    qint64 RemainingMs(int id) const;

  private:
    struct Entry {
        std::unique_ptr<QTimer> timer;
        qint64 leftAfterThisPart = 0;
    };
    void StartPart(Entry& entry, qint64 ms);
    void Fired(int id);

    std::map<int, Entry> timers_;
};

// Post runs work on the GUI thread through a queued invocation; PostAfter
// goes to the GUI thread first and starts a single-shot timer there.
class QtUiDispatcher final : public IUiDispatcher {
  public:
    explicit QtUiDispatcher(QObject& guiObject) : guiObject_(guiObject) {}

    void Post(std::function<void()> work) override;
    void PostAfter(std::uint32_t ms, std::function<void()> work) override;

  private:
    QObject& guiObject_;
};

}  // namespace orvalin::desktop
