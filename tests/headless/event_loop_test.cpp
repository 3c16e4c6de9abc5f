// The headless event loop: posted work and one-shot timers, all run on the
// thread that runs the loop. Only orders and counts are checked; every wait
// is a generous upper bound, never a measured time.

#include "headless/event_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>
#include <vector>

namespace orvalin {
namespace {

using namespace std::chrono_literals;

// Notes each timer that fires, and ends the loop when lastId fires.
void RecordFiringsUntil(EventLoop& loop, std::vector<int>& fired, int lastId) {
    loop.SetTimerHandler([&loop, &fired, lastId](int id) {
        fired.push_back(id);
        if (id == lastId) {
            loop.Quit(0);
        }
    });
}

// Runs a loop on its own thread; the destructor quits it and waits for it.
class RunningLoop {
  public:
    explicit RunningLoop(EventLoop& loop) : loop_(loop) {
        result_ = std::async(std::launch::async, [this] {
            runThread_.set_value(std::this_thread::get_id());
            return loop_.Run();
        });
    }
    ~RunningLoop() {
        if (result_.valid()) {
            loop_.Quit(0);
            result_.wait();
        }
    }
    RunningLoop(const RunningLoop&) = delete;
    RunningLoop& operator=(const RunningLoop&) = delete;

    std::thread::id ThreadId() const { return runThreadId_.get(); }

    // Returns once the loop has run a piece of work posted now.
    void WaitUntilRunning() {
        std::promise<void> ran;
        loop_.Post([&ran] { ran.set_value(); });
        ran.get_future().wait();
    }

    // Run's result once it has returned within limit.
    std::optional<int> WaitForEnd(std::chrono::milliseconds limit) {
        if (!ended_ && result_.wait_for(limit) == std::future_status::ready) {
            ended_ = result_.get();
        }
        return ended_;
    }

  private:
    EventLoop& loop_;
    std::promise<std::thread::id> runThread_;
    std::shared_future<std::thread::id> runThreadId_ = runThread_.get_future().share();
    std::future<int> result_;
    std::optional<int> ended_;
};

TEST(EventLoopTest, PostedWorkRunsInOrderOnTheRunThread) {
    EventLoop loop;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 50; ++i) {
        loop.Post([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    loop.Post([&] { loop.Quit(5); });

    RunningLoop running(loop);
    ASSERT_EQ(running.WaitForEnd(30s), 5);
    const std::thread::id runThread = running.ThreadId();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_NE(runThread, std::this_thread::get_id());
    for (const auto id : threads) {
        EXPECT_EQ(id, runThread);
    }
}

TEST(EventLoopTest, TimersFireOnceEachInOrderOfTheirDueTime) {
    EventLoop loop;
    std::vector<int> fired;
    std::vector<std::thread::id> threads;
    loop.SetTimerHandler([&](int id) {
        fired.push_back(id);
        threads.push_back(std::this_thread::get_id());
        if (id == 99) {
            loop.Quit(0);
        }
    });
    loop.Arm(3, 120);
    loop.Arm(1, 10);
    loop.Arm(2, 60);
    // Due long after the others: any second firing of theirs would come first.
    loop.Arm(99, 600);

    RunningLoop running(loop);
    ASSERT_EQ(running.WaitForEnd(30s), 0);
    EXPECT_EQ(fired, (std::vector<int>{1, 2, 3, 99}));
    for (const auto id : threads) {
        EXPECT_EQ(id, running.ThreadId());
    }
}

TEST(EventLoopTest, AHandlerThatArmsItsOwnTimerAgainGetsOneFiringPerArm) {
    EventLoop loop;
    int firings = 0;
    loop.SetTimerHandler([&](int id) {
        if (id == 99) {
            loop.Quit(0);
        } else if (++firings < 5) {
            loop.Arm(id, 1);
        } else {
            loop.Arm(99, 200);  // room for a firing too many
        }
    });
    loop.Arm(7, 0);
    RunningLoop running(loop);
    ASSERT_EQ(running.WaitForEnd(30s), 0);
    EXPECT_EQ(firings, 5);
}

TEST(EventLoopTest, ArmingAnArmedTimerReplacesItsPeriod) {
    EventLoop loop;
    std::vector<int> fired;
    RecordFiringsUntil(loop, fired, 99);
    loop.Arm(1, 60'000);
    loop.Arm(1, 10);  // sooner now
    loop.Arm(2, 10);
    loop.Arm(2, 60'000);  // later now
    loop.Arm(99, 300);

    RunningLoop running(loop);
    ASSERT_EQ(running.WaitForEnd(30s), 0);
    EXPECT_EQ(fired, (std::vector<int>{1, 99}));
}

TEST(EventLoopTest, AKilledTimerDoesNotFire) {
    EventLoop loop;
    std::vector<int> fired;
    RecordFiringsUntil(loop, fired, 99);
    loop.Arm(1, 10);
    loop.Arm(2, 20);
    loop.Arm(99, 300);
    loop.Kill(1);
    loop.Kill(42);  // never armed: nothing happens
    RunningLoop running(loop);
    ASSERT_EQ(running.WaitForEnd(30s), 0);
    EXPECT_EQ(fired, (std::vector<int>{2, 99}));
}

TEST(EventLoopTest, TimersArmedAndKilledFromOtherThreadsReachAnIdleLoop) {
    EventLoop loop;
    std::vector<int> fired;
    RecordFiringsUntil(loop, fired, 2);
    RunningLoop running(loop);
    running.WaitUntilRunning();  // then it sleeps with nothing to do

    loop.Arm(1, 500);
    loop.Kill(1);
    loop.Arm(2, 800);
    ASSERT_EQ(running.WaitForEnd(30s), 0);
    EXPECT_EQ(fired, std::vector<int>{2});
}

TEST(EventLoopTest, QuitFromAnotherThreadEndsRunWithTheFirstCodeGiven) {
    {
        EventLoop loop;  // idle: no work and no timer
        RunningLoop running(loop);
        running.WaitUntilRunning();
        loop.Quit(3);
        loop.Quit(4);
        EXPECT_EQ(running.WaitForEnd(30s), 3);
    }
    {
        EventLoop loop;  // sleeping until a timer far away
        loop.Arm(1, 3'600'000);
        RunningLoop running(loop);
        running.WaitUntilRunning();
        loop.Quit(9);
        EXPECT_EQ(running.WaitForEnd(30s), 9);
    }
}

TEST(EventLoopTest, QuitEndsRunAfterTheWorkItIsDoing) {
    EventLoop loop;
    bool later = false;
    bool finished = false;
    loop.Post([&] {
        loop.Quit(2);
        finished = true;
    });
    loop.Post([&] { later = true; });
    RunningLoop running(loop);
    ASSERT_EQ(running.WaitForEnd(30s), 2);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(later);
}

TEST(EventLoopTest, WorkPostedFromManyThreadsAtOnceIsAllRunInEachThreadsOrder) {
    constexpr int kThreads = 8;
    constexpr int kPostsEach = 2'000;
    EventLoop loop;
    RunningLoop running(loop);

    // Touched on the loop's thread only.
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int n = 0; n < kPostsEach; ++n) {
                loop.Post([&seen, t, n] { seen[static_cast<std::size_t>(t)].push_back(n); });
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    loop.Post([&] { loop.Quit(1); });
    ASSERT_EQ(running.WaitForEnd(60s), 1);

    for (int t = 0; t < kThreads; ++t) {
        const auto& numbers = seen[static_cast<std::size_t>(t)];
        ASSERT_EQ(numbers.size(), static_cast<std::size_t>(kPostsEach)) << "thread " << t;
        for (int n = 0; n < kPostsEach; ++n) {
            ASSERT_EQ(numbers[static_cast<std::size_t>(n)], n) << "thread " << t;
        }
    }
}

// Waits until count reaches at least n; false when limit passes first.
bool WaitForCount(const std::atomic<int>& count, int n, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (count.load() < n) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(EventLoopTest, TheHeartbeatBeatsOnTheLoopThreadAndStopsWhileAHandlerHangs) {
    EventLoop loop;
    std::atomic<int> beats{0};
    std::vector<std::thread::id> beatThreads;  // written by the beats only
    loop.SetHeartbeat(10ms, [&] {
        beatThreads.push_back(std::this_thread::get_id());
        ++beats;
    });
    loop.Arm(1, 3'600'000);  // idle otherwise: only the beats wake it
    RunningLoop running(loop);
    ASSERT_TRUE(WaitForCount(beats, 3, 30s));

    std::promise<void> hanging;
    std::promise<void> release;
    loop.Post([&] {
        hanging.set_value();
        release.get_future().wait();
    });
    hanging.get_future().wait();
    const int beforeHang = beats.load();
    std::this_thread::sleep_for(200ms);  // twenty periods
    EXPECT_EQ(beats.load(), beforeHang) << "a beat came while the loop hung";
    release.set_value();
    EXPECT_TRUE(WaitForCount(beats, beforeHang + 1, 30s)) << "no beat after the hang";

    loop.Post([&] { loop.Quit(0); });
    ASSERT_EQ(running.WaitForEnd(30s), 0);
    for (const auto& id : beatThreads) {
        EXPECT_EQ(id, running.ThreadId());
    }
}

TEST(EventLoopTest, AStreamOfWorkDoesNotHoldTheHeartbeatBack) {
    EventLoop loop;
    std::atomic<int> beats{0};
    loop.SetHeartbeat(10ms, [&] { ++beats; });
    // The queue is never empty: each piece of work posts the next.
    std::function<void()> next = [&] {
        if (beats.load() >= 3) {
            loop.Quit(5);
            return;
        }
        loop.Post(next);
    };
    loop.Post(next);
    RunningLoop running(loop);
    EXPECT_EQ(running.WaitForEnd(30s), 5);
}

}  // namespace
}  // namespace orvalin
