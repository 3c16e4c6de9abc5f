#include "session_fixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include "desktop/window/main_window.h"
#include "settings/settings_keys.h"

namespace orvalin::test {

SessionTest::SessionTest() {
    std::filesystem::create_directories(dir / "runtime");
    ::chmod((dir / "runtime").c_str(), 0700);
    store = std::make_shared<SettingsStore>(dir / "settings.db");
    // A mail server is set, so the first tick does not open the email setup;
    // no mail is sent.
    store->WriteString("Settings", "SMTP", "127.0.0.1:9");
    store->WriteInt("Settings", "DisableEmails", 1);
}

SessionTest::~SessionTest() {
    if (session) {
        session->End();
    }
}

desktop::DesktopSession& SessionTest::Start() {
    desktop::SessionOptions options;
    options.settingsFile = dir / "settings.db";
    options.lockFile = dir / "runtime/orvalin/CheckIfOrvalinAlreadyRunning.lock";
    options.autostart = desktop::AutostartEntry(AutostartFile());
    options.keyring = keyring;
    options.sessionBus = sessionBus;
    options.systemBus = [] { return QDBusConnection(QString()); };
    session = std::make_unique<desktop::DesktopSession>(options);
    session->Show();
    return *session;
}

desktop::ProgramEnd SessionTest::RunToTheEnd() {
    bool cut = false;
    QTimer cutOff;
    QObject::connect(&cutOff, &QTimer::timeout, [&cut] {
        cut = true;
        QCoreApplication::exit(1);
    });
    cutOff.start(15'000);
    const desktop::ProgramEnd end = desktop::RunProgram(*session);
    EXPECT_FALSE(cut) << "the program did not end";
    return end;
}

void SessionTest::SendStopSignal() {
    ::kill(::getpid(), SIGTERM);
}

void SessionTest::StoreSite(int slot, const std::string& address) {
    store->WriteString("Settings", "lastWebsite" + std::to_string(slot), address);
    store->WriteString("Settings", "lastWebsiteTitle" + std::to_string(slot), address);
}

SettingsStore& SessionTest::Landed() {
    if (session) {
        session->Store()->WaitForQueuedWrites(std::chrono::seconds(10));
    }
    return *store;
}

}  // namespace orvalin::test
