#include "desktop/app/program_run.h"

#include <QApplication>
#include <cstdlib>

#include "desktop/app/desktop_session.h"
#include "desktop/app/stop_signals.h"
#include "desktop/window/main_window.h"
#include "engine/monitor_engine.h"

namespace orvalin::desktop {

ProgramEnd RunProgram(DesktopSession& session) {
    MainWindow& window = session.Window();
    CMonitorEngine& engine = session.Engine();
    // exit rather than quit: quit asks every window to close first and is
    // refused by a notice that stays until its send has ended, and nothing
    // would ask again. exit ends the modal dialogs' loops with the main one.
    const QMetaObject::Connection ending =
        QObject::connect(&window, &MainWindow::Exiting, &window, [&engine] {
            engine.RequestStop();
            QCoreApplication::exit(EXIT_SUCCESS);
        });
    const StopSignals stopSignals([&window] { window.RequestExit(); });
    session.Show();
    QApplication::exec();
    QObject::disconnect(ending);
    session.End();
    return engine.RunningJobs() > 0 ? ProgramEnd::kJobsStillRunning : ProgramEnd::kClean;
}

}  // namespace orvalin::desktop
