// Stand-ins for the window side of the SMTP client: a clock that stands
// still and message boxes that are recorded instead of shown.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "shell/clock.h"
#include "shell/message_box.h"
#include "support/fixed_moment.h"

namespace orvalin::test {

class FixedClock final : public IClock {
  public:
    std::uint32_t TickCount() override { return 0; }
    std::tm LocalNow() override { return FixedMoment(); }
    void SleepMs(std::uint32_t) override {}
};

class RecordedBoxes final : public IMessageBox {
  public:
    void ShowWarning(const std::string& text) override {
        std::lock_guard lock(mutex_);
        texts_.push_back(text);
    }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

}  // namespace orvalin::test
