// Notices waiting to go out together: alerts and recoveries of different
// sites that fall within GroupSeconds of the first are sent as one mail.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/frontend.h"

namespace orvalin {

struct OutgoingNotice {
    NoticeKind kind = NoticeKind::Alert;
    int slot = 0;
    std::uint64_t generation = 0;
    std::string to;
    std::string subject;
    std::string body;
    bool mail = true;  // false without email set up: shown, not mailed
};

class NoticeOutbox {
  public:
    // Queues notice, replacing one of the same kind and slot. True when the
    // outbox was empty, so that the caller starts the wait.
    bool Add(OutgoingNotice notice);
    // Everything queued, in slot order; the outbox is empty afterwards.
    std::vector<OutgoingNotice> Take();

  private:
    std::mutex mutex_;
    std::vector<OutgoingNotice> queued_;
};

// The notices of one kind as one: the notice itself when alone, otherwise
// "Alert - 3 websites" with each site's own subject and body in slot order.
Notice Combine(const std::vector<OutgoingNotice>& sameKind);

}  // namespace orvalin
