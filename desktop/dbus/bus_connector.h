// A D-Bus connection made off the GUI thread. Connecting, and the bus's
// greeting that follows, take as long as the bus makes them: a stalled bus
// would stall the window. The connection is handed over on the GUI thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>

namespace orvalin::desktop {

// Makes the connection; runs on a thread of its own.
using BusConnector = std::function<QDBusConnection()>;

QDBusConnection ConnectSessionBus();
QDBusConnection ConnectSystemBus();

// Runs connect on a short-lived thread and ready(connection) on receiver's
// thread once it is made, unless receiver has gone by then. A connection that
// failed (no bus, or no thread for the attempt) arrives unconnected.
void ConnectInBackground(BusConnector connect, QObject& receiver,
                         std::function<void(const QDBusConnection&)> ready);

}  // namespace orvalin::desktop
