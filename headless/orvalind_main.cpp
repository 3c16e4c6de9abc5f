// orvalind: the headless monitor. Runs the monitoring engine over the
// settings store without a display, either for ever (until SIGINT, SIGTERM
// or SIGHUP) or for one round of checks (--once).
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "engine/monitor_engine.h"
#include "headless/event_loop.h"
#include "headless/headless_frontend.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "settings/instance_count.h"
#include "settings/settings_store.h"

namespace {

using namespace orvalin;

enum class Mode { Monitor, Once };

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

// Turns the stop signals into an orderly end of the loop with exitCode. The
// watcher shares the loop, so a signal that arrives while main is returning
// finds it.
void WatchForStopSignals(std::shared_ptr<EventLoop> loop, int exitCode) {
    std::thread([loop = std::move(loop), exitCode] {
        const sigset_t stopSignals = StopSignals();
        int received = 0;
        while (sigwait(&stopSignals, &received) != 0) {
        }
        loop->Quit(exitCode);
    }).detach();
}

// Whether any slot holds a site to check: blanks and a slot's placeholder
// text are no address.
bool AnySiteConfigured(const CMonitorEngine& engine) {
    for (int i = 0; i < kSlotCount; ++i) {
        const std::string address = engine.SiteAddress(i);
        if (address.find_first_not_of(" \t\r\n\v\f") != std::string::npos &&
            address != text::kAddressPlaceholders[static_cast<std::size_t>(i)]) {
            return true;
        }
    }
    return false;
}

// Starts one check of every slot that has an address, as the start-up
// timers would, and ends the loop when the last one has reported its final
// outcome (after the re-probes that confirm a failure or a recovery).
int StartOneRound(CMonitorEngine& engine, HeadlessFrontEnd& frontEnd, EventLoop& loop) {
    engine.OnTimer(ids::kStartupTimer);  // fills the address boxes from the store
    int expected = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        expected += engine.PollNow(i) ? 1 : 0;
    }
    // The checks report through the loop, so none has reported yet.
    auto worst = std::make_shared<CheckOutcome>(CheckOutcome::Success);
    auto remaining = std::make_shared<int>(expected);
    frontEnd.onCheckFinished = [worst, remaining, &loop](const CheckReport& report) {
        if (report.confirming) {
            return;  // its re-probe follows within the round and gives the outcome
        }
        if (ExitCodeFor(report.outcome) > ExitCodeFor(*worst)) {
            *worst = report.outcome;
        }
        if (--*remaining == 0) {
            loop.Quit(ExitCodeFor(*worst));
        }
    };
    return expected;
}

}  // namespace

int main(int argc, char** argv) {
    Mode mode = Mode::Monitor;
    for (int a = 1; a < argc; ++a) {
        const std::string option = argv[a];
        if (option == "--help" || option == "-h") {
            std::cout << text::kDaemonHelp;
            return kExitAllWell;
        }
        if (option == "--once" && mode == Mode::Monitor) {
            mode = Mode::Once;
            continue;
        }
        std::cerr << "orvalind: unknown option '" << option << "'\n" << text::kDaemonUsage << '\n';
        return kExitUsage;
    }

    // Every thread started from here on leaves the stop signals to the watcher.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto store = std::make_shared<SettingsStore>(SettingsStore::DefaultPath());
    // Writes an earlier program could not make before it ended come first.
    store->ResumeSpooledWrites();
    const auto sharedLoop = std::make_shared<EventLoop>();
    EventLoop& loop = *sharedLoop;
    HeadlessFrontEnd frontEnd(std::cout, std::cerr);
    CMonitorEngine engine(FrontEnd{frontEnd, frontEnd, frontEnd, frontEnd, loop, loop}, store,
                          std::make_shared<SystemClock>());
    loop.SetTimerHandler([&engine](int id) { engine.OnTimer(id); });

    engine.LoadSettings();
    if (const std::string problem = engine.StoreProblem(); !problem.empty()) {
        // Without its settings there is nothing this program could check.
        std::cerr << text::kDaemonStoreUnreadable << store->Path().string() << ": " << problem
                  << '\n';
        store->FinishWrites(SettingsStore::kWriterStopWait);
        return kExitStoreUnreadable;
    }
    // A running monitor counts itself in NumOpen. One round of checks is a
    // probe like a monitoring plugin's, not an instance: it writes nothing
    // to the store that its checks do not change.
    std::optional<InstanceLock> instance;
    if (mode == Mode::Monitor) {
        instance.emplace();
        RegisterInstance(*store, instance->OtherInstanceRunning());
    }
    try {
        // An interrupted round has no result to report.
        WatchForStopSignals(sharedLoop, mode == Mode::Once ? kExitInterrupted : kExitAllWell);
    } catch (const std::system_error& error) {
        std::cerr << text::kDaemonNoThread << error.what() << '\n';
        engine.Shutdown();
        if (instance) {
            UnregisterInstance(*store);
        }
        store->FinishWrites(SettingsStore::kWriterStopWait);
        return kExitNoThread;
    }

    int exitCode = kExitAllWell;
    if (!AnySiteConfigured(engine) ||
        (mode == Mode::Once && StartOneRound(engine, frontEnd, loop) == 0)) {
        std::cerr << text::kDaemonNoSite << '\n';
        exitCode = kExitNoSite;
    } else {
        if (mode == Mode::Monitor) {
            engine.Start();
        }
        exitCode = loop.Run();
    }

    engine.Shutdown();
    if (instance) {
        UnregisterInstance(*store);
    }
    // What cannot be written within the wait is kept for the next start.
    store->FinishWrites(SettingsStore::kWriterStopWait);
    std::cout.flush();
    if (engine.RunningJobs() > 0) {
        // Jobs that outlived the wait end with the process, as they are.
        std::_Exit(exitCode);
    }
    return exitCode;
}
