// A desktop session on the offscreen platform over a settings store, logs,
// lock and autostart folder in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <functional>
#include <memory>

#include "desktop/app/desktop_session.h"
#include "desktop/app/program_run.h"
#include "secrets/keyring.h"
#include "settings/settings_store.h"
#include "support/temp_dir.h"

namespace orvalin::test {

class SessionTest : public testing::Test {
  protected:
    SessionTest();
    ~SessionTest() override;

    // Starts the session over what the test has put into store.
    desktop::DesktopSession& Start();
    // Runs the started session as the program's main does, to its end. A run
    // still going after 15 s is cut off, and the test fails.
    desktop::ProgramEnd RunToTheEnd();
    // Asks for the end as `kill` does: SIGTERM to this process.
    static void SendStopSignal();
    // Puts a site into slot's stored address.
    void StoreSite(int slot, const std::string& address);
    // The test's own connection to the store, once the session's queued
    // writes have landed (or 10 s have passed).
    SettingsStore& Landed();
    std::filesystem::path AutostartFile() const { return dir / "config/autostart/orvalin.desktop"; }

    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    ScopedEnv state{"XDG_STATE_HOME", (dir / "state").string()};
    ScopedEnv runtime{"XDG_RUNTIME_DIR", (dir / "runtime").string()};
    ScopedEnv home{"HOME", dir.Path().string()};
    std::shared_ptr<SettingsStore> store;
    std::shared_ptr<IKeyring> keyring;  // none: the store keeps the mail password
    // The session bus of notifications; none unless a test gives one, so
    // that no test reaches the desktop it runs on. The system bus is never given.
    std::function<QDBusConnection()> sessionBus = [] { return QDBusConnection(QString()); };
    std::unique_ptr<desktop::DesktopSession> session;
};

}  // namespace orvalin::test
