// Keeps calls from worker threads into the front end from racing its
// detachment at shutdown.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace orvalin {

class FrontEndGate {
  public:
    // True when the caller may call the front end; pair with Leave.
    bool Enter();
    void Leave();
    // Refuses new calls, then waits at most limit for the calls in flight.
    // False when some were still in flight at the end of the wait.
    bool Close(std::chrono::milliseconds limit);
    bool IsClosed() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int inFlight_ = 0;
    bool closed_ = false;
};

// Counts running background jobs (checks, mail) and waits for the count to
// reach zero.
class JobCounter {
  public:
    void Add();
    void Done();
    std::int32_t Count() const;
    // False when jobs were still running at the end of the wait.
    bool WaitForNone(std::chrono::milliseconds limit);

  private:
    mutable std::mutex mutex_;
    std::condition_variable none_;
    std::int32_t count_ = 0;
};

}  // namespace orvalin
