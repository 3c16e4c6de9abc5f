// SIGINT, SIGTERM and SIGHUP (a session ending, a `kill`) end the program in
// order, as Exit does, instead of cutting it off mid-write.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace orvalin::desktop {

class StopSignals : public QObject {
    Q_OBJECT
  public:
    // onStop runs on the GUI thread when one of the signals arrives.
    explicit StopSignals(std::function<void()> onStop, QObject* parent = nullptr);
    ~StopSignals() override;

  private:
    std::function<void()> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orvalin::desktop
