#include "desktop/frontend/qt_timers.h"

#include <limits>

namespace orvalin::desktop {
namespace {

constexpr qint64 kLongestPart = std::numeric_limits<int>::max();

}  // namespace

void QtTimerHost::Arm(int id, std::uint32_t ms) {
    Entry& entry = timers_[id];
    if (!entry.timer) {
        entry.timer = std::make_unique<QTimer>();
        entry.timer->setSingleShot(true);
        // Minutes-long periods must not drift by the coarse timer's 5 %.
        entry.timer->setTimerType(Qt::PreciseTimer);
        connect(entry.timer.get(), &QTimer::timeout, this, [this, id] { Fired(id); });
    }
    StartPart(entry, static_cast<qint64>(ms));
}

void QtTimerHost::StartPart(Entry& entry, qint64 ms) {
    const qint64 part = std::min(ms, kLongestPart);
    entry.leftAfterThisPart = ms - part;
    entry.timer->start(static_cast<int>(part));
}

void QtTimerHost::Kill(int id) {
    const auto found = timers_.find(id);
    if (found != timers_.end()) {
        found->second.timer->stop();
        found->second.leftAfterThisPart = 0;
    }
}

bool QtTimerHost::IsArmed(int id) const {
    const auto found = timers_.find(id);
    return found != timers_.end() && found->second.timer->isActive();
}

qint64 QtTimerHost::RemainingMs(int id) const {
    const auto found = timers_.find(id);
    if (found == timers_.end() || !found->second.timer->isActive()) {
        return -1;
    }
    return found->second.timer->remainingTime() + found->second.leftAfterThisPart;
}

void QtTimerHost::Fired(int id) {
    Entry& entry = timers_[id];
    if (entry.leftAfterThisPart > 0) {
        StartPart(entry, entry.leftAfterThisPart);
        return;
    }
    if (onFire) {
        onFire(id);
    }
}

void QtUiDispatcher::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(&guiObject_, std::move(work), Qt::QueuedConnection);
}

void QtUiDispatcher::PostAfter(std::uint32_t ms, std::function<void()> work) {
    QObject* target = &guiObject_;
    QMetaObject::invokeMethod(
        target,
        [target, ms, work = std::move(work)]() mutable {
            QTimer::singleShot(static_cast<int>(std::min<std::uint32_t>(
                                   ms, static_cast<std::uint32_t>(kLongestPart))),
                               Qt::PreciseTimer, target, std::move(work));
        },
        Qt::QueuedConnection);
}

}  // namespace orvalin::desktop
