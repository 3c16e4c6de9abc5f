// orvalind: the headless monitor. Runs the monitoring engine over the
// settings store without a display, either for ever (until SIGINT, SIGTERM
// or SIGHUP; under systemd as a notify service) or for one round of checks
// (--once).
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "engine/monitor_engine.h"
#include "headless/event_loop.h"
#include "headless/headless_frontend.h"
#include "headless/journal_stream.h"
#include "headless/plugin_line.h"
#include "headless/service_notifier.h"
#include "headless/site_summary.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "secrets/keyring.h"
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

// Which slots hold a site to check: blanks and a slot's placeholder text are
// no address.
std::array<bool, kSlotCount> ConfiguredSlots(const CMonitorEngine& engine) {
    std::array<bool, kSlotCount> configured{};
    for (int i = 0; i < kSlotCount; ++i) {
        const std::string address = engine.SiteAddress(i);
        configured[static_cast<std::size_t>(i)] =
            address.find_first_not_of(" \t\r\n\v\f") != std::string::npos &&
            address != text::kAddressPlaceholders[static_cast<std::size_t>(i)];
    }
    return configured;
}

bool AnySiteConfigured(const CMonitorEngine& engine) {
    const auto configured = ConfiguredSlots(engine);
    return std::find(configured.begin(), configured.end(), true) != configured.end();
}

// Keeps the service manager told while the loop runs: ready now, a status
// line after every check, and the watchdog fed from the loop when it asks
// for one. The loop must not run yet.
void TellServiceManager(const ServiceNotifier& service, const CMonitorEngine& engine,
                        HeadlessFrontEnd& frontEnd, EventLoop& loop) {
    auto summary = std::make_shared<SiteSummary>();
    frontEnd.onCheckFinished = [&service, &engine, summary](const CheckReport& report) {
        summary->Record(report);
        service.Status(summary->Text(ConfiguredSlots(engine)));
    };
    if (const auto interval = service.WatchdogInterval()) {
        loop.SetHeartbeat(*interval, [&service] { service.Watchdog(); });
    }
    service.Ready(summary->Text(ConfiguredSlots(engine)));
}

// Starts one check of every slot that has an address, as the start-up
// timers would, and ends the loop when the last one has reported its final
// outcome (after the re-probes that confirm a failure or a recovery). Every
// configured site and every final report goes into plugin.
int StartOneRound(CMonitorEngine& engine, HeadlessFrontEnd& frontEnd, EventLoop& loop,
                  PluginLine& plugin) {
    engine.OnTimer(ids::kStartupTimer);  // fills the address boxes from the store
    const auto configured = ConfiguredSlots(engine);
    int expected = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        if (configured[static_cast<std::size_t>(i)]) {
            plugin.AddSite(i, engine.SiteAddress(i), engine.WarnMs(i));
        }
        expected += engine.PollNow(i) ? 1 : 0;
    }
    // The checks report through the loop, so none has reported yet.
    auto worst = std::make_shared<CheckOutcome>(CheckOutcome::Success);
    auto remaining = std::make_shared<int>(expected);
    auto judged = std::make_shared<int>(0);
    frontEnd.onCheckFinished = [worst, remaining, judged, &loop,
                                &plugin](const CheckReport& report) {
        if (report.confirming) {
            return;  // its re-probe follows within the round and gives the outcome
        }
        plugin.Record(report);
        if (ExitCodeFor(report.outcome) > ExitCodeFor(*worst)) {
            *worst = report.outcome;
        }
        *judged += report.outcome == CheckOutcome::NoNetwork ? 0 : 1;
        if (--*remaining == 0) {
            loop.Quit(*judged == 0 ? kExitNoNetwork : ExitCodeFor(*worst));
        }
    };
    return expected;
}

}  // namespace

int main(int argc, char** argv) {
    Mode mode = Mode::Monitor;
    std::string metricsFile;
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
        if (option == "--metrics-file" && metricsFile.empty() && a + 1 < argc &&
            argv[a + 1][0] != '\0') {
            metricsFile = argv[++a];
            continue;
        }
        std::cerr << WithPriority("orvalind: unknown option '" + option + "'\n" +
                                      std::string(text::kDaemonUsage),
                                  Priority::Error, StandardErrorIsJournal())
                  << '\n';
        return kExitUsage;
    }
    // Under systemd, standard error may be the journal: its lines then carry
    // their priority.
    const bool errIsJournal = StandardErrorIsJournal();
    const auto printError = [errIsJournal](const std::string& line) {
        std::cerr << WithPriority(line, Priority::Error, errIsJournal) << '\n';
    };

    // Every thread started from here on leaves the stop signals to the watcher.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto store = std::make_shared<SettingsStore>(SettingsStore::DefaultPath());
    // Writes an earlier program could not make before it ended come first.
    store->ResumeSpooledWrites();
    const auto sharedLoop = std::make_shared<EventLoop>();
    EventLoop& loop = *sharedLoop;
    // One round prints its plugin line first: the site lines wait for it.
    std::ostringstream siteLines;
    PluginLine plugin;
    HeadlessFrontEnd frontEnd(mode == Mode::Once ? siteLines : std::cout, std::cerr, errIsJournal);
    // The mail password is looked up in the keyring before a mail that logs
    // in; a running monitor also moves one the store holds into it.
    CMonitorEngine engine(FrontEnd{frontEnd, frontEnd, frontEnd, frontEnd, loop, loop}, store,
                          std::make_shared<SystemClock>(), SessionKeyring());
    loop.SetTimerHandler([&engine](int id) { engine.OnTimer(id); });

    engine.LoadSettings();
    if (!metricsFile.empty()) {
        engine.SetMetricsFile(metricsFile);
    }
    if (const std::string problem = engine.StoreProblem(); !problem.empty()) {
        // Without its settings there is nothing this program could check.
        printError(std::string(text::kDaemonStoreUnreadable) + store->Path().string() + ": " +
                   problem);
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
        printError(std::string(text::kDaemonNoThread) + error.what());
        engine.Shutdown();
        if (instance) {
            UnregisterInstance(*store);
        }
        store->FinishWrites(SettingsStore::kWriterStopWait);
        return kExitNoThread;
    }

    int exitCode = kExitAllWell;
    // One round is never a service: it tells the service manager nothing.
    // Outlives the engine's end, in case a report of it is still on its way.
    std::optional<ServiceNotifier> service;
    if (!AnySiteConfigured(engine) ||
        (mode == Mode::Once && StartOneRound(engine, frontEnd, loop, plugin) == 0)) {
        printError(std::string(text::kDaemonNoSite));
        exitCode = kExitNoSite;
    } else {
        if (mode == Mode::Monitor) {
            engine.Start();
            service.emplace();
            if (service->Active()) {
                TellServiceManager(*service, engine, frontEnd, loop);
            } else if (!service->Problem().empty()) {
                std::cerr << WithPriority(std::string(text::kDaemonNoNotify) + service->Problem(),
                                          Priority::Warning, errIsJournal)
                          << '\n';
            }
        }
        exitCode = loop.Run();
        if (service) {
            service->Stopping();
        }
    }

    engine.Shutdown();
    if (instance) {
        UnregisterInstance(*store);
    }
    // What cannot be written within the wait is kept for the next start.
    store->FinishWrites(SettingsStore::kWriterStopWait);
    if (mode == Mode::Once) {
        if (exitCode <= kExitNoSite) {
            std::cout << plugin.Text(exitCode) << '\n';
        }
        std::cout << siteLines.str();
    }
    std::cout.flush();
    if (engine.RunningJobs() > 0) {
        // Jobs that outlived the wait end with the process, as they are.
        std::_Exit(exitCode);
    }
    return exitCode;
}
