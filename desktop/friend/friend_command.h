// Help -> "Tell a friend...", the main window's entry point to the
// recommendation dialog and its send.
#pragma once

#include "engine/monitor_engine.h"
#include "settings/settings_store.h"

class QWidget;

namespace orvalin {

// The recommendation dialog; on OK the sender, subject and body are
// remembered in store and the message is sent off the GUI thread with a
// modal indicator. engine.Mail().senderEmail is the default sender. Returns
// once the dialog, and the send, are over.
void RunTellAFriend(QWidget* parent, CMonitorEngine& engine, SettingsStore& store);

}  // namespace orvalin
