// orvalin: the desktop program. One window with four website panels and an
// icon in the notification area; the monitoring runs in the engine.
#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "desktop/app/desktop_session.h"
#include "desktop/app/program_run.h"
#include "desktop/qt_text.h"
#include "desktop/tray/icon_library.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

int main(int argc, char** argv) {
    using namespace orvalin;
    using namespace orvalin::desktop;

    // Answered before Qt looks for a display, so they work without one.
    for (int a = 1; a < argc; ++a) {
        const std::string_view option = argv[a];
        if (option == "--help" || option == "-h") {
            std::cout << text::kDesktopHelp;
            return EXIT_SUCCESS;
        }
        if (option == "--version") {
            std::cout << text::kDesktopVersionPrefix << text::kAppVersion << '\n';
            return EXIT_SUCCESS;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(Q(text::kAppTitle));
    QApplication::setApplicationVersion(Q(text::kAppVersion));
    QApplication::setDesktopFileName(QStringLiteral("orvalin"));
    QApplication::setWindowIcon(IconById(ids::kIconNormal));
    // Hidden to the notification area the program keeps running; it ends by
    // Exit, Terminate or ESC only.
    QApplication::setQuitOnLastWindowClosed(false);

    DesktopSession session;
    if (RunProgram(session) == ProgramEnd::kJobsStillRunning) {
        // Jobs that outlived the wait end with the process, as they are.
        std::_Exit(EXIT_SUCCESS);
    }
    return EXIT_SUCCESS;
}
