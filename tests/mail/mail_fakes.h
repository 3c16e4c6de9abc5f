// Stand-ins for the window side of the SMTP client: message boxes that are
// recorded instead of shown.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "support/fake_clock.h"
#include "support/fixed_moment.h"

namespace orvalin::test {

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
