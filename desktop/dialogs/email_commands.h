// The "Email settings" and "Test Email Settings" commands: the setup dialog,
// the save through the engine, the recommendation to test, and the test
// itself, which sends on a worker while a modal notice keeps the window
// painting.
#pragma once

#include <QWidget>

#include "engine/frontend.h"

namespace orvalin {
class CMonitorEngine;
}

namespace orvalin::desktop {

class EmailCommands {
  public:
    EmailCommands(CMonitorEngine& engine, IUserDialogs& dialogs, QWidget& window)
        : engine_(engine), dialogs_(dialogs), window_(window) {}

    // Modal; returns when the dialog, and a test chosen after it, are over.
    void OpenSettings();
    // Modal; returns when both test messages have been tried and reported,
    // or the program ends. A test that cannot start says so in a box.
    void RunTest();

  private:
    CMonitorEngine& engine_;
    IUserDialogs& dialogs_;
    QWidget& window_;
};

}  // namespace orvalin::desktop
