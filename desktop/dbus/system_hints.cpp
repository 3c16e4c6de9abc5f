#include "desktop/dbus/system_hints.h"

#include <QDBusConnection>

namespace orvalin::desktop {
namespace {

// NetworkManager's NM_STATE_CONNECTED_SITE and NM_STATE_CONNECTED_GLOBAL: a
// route beyond this machine. Below them (connecting, local only, asleep)
// nothing can be checked that was not checkable before.
constexpr uint kConnectedSite = 60;
constexpr uint kConnectedGlobal = 70;

}  // namespace

SystemHints::SystemHints(BusConnector connector, QObject* parent)
    : QObject(parent), connector_(std::move(connector)) {}

void SystemHints::Start() {
    if (started_) {
        return;
    }
    started_ = true;
    ConnectInBackground(connector_, *this, [this](const QDBusConnection& connection) {
        if (!connection.isConnected()) {
            return;
        }
        QDBusConnection bus = connection;
        // By path and interface only: naming the service would make Qt look
        // up its owner with a call that waits. Both hints are harmless when
        // someone else sends them.
        bus.connect(QString(), QStringLiteral("/org/freedesktop/login1"),
                    QStringLiteral("org.freedesktop.login1.Manager"),
                    QStringLiteral("PrepareForSleep"), this, SLOT(OnPrepareForSleep(bool)));
        bus.connect(QString(), QStringLiteral("/org/freedesktop/NetworkManager"),
                    QStringLiteral("org.freedesktop.NetworkManager"),
                    QStringLiteral("StateChanged"), this, SLOT(OnNetworkState(uint)));
    });
}

void SystemHints::OnPrepareForSleep(bool sleeping) {
    if (!sleeping && onResumed) {
        onResumed();
    }
}

void SystemHints::OnNetworkState(uint state) {
    const bool connected = state == kConnectedSite || state == kConnectedGlobal;
    // Once per change from not connected to connected, not for every step.
    const bool cameUp = connected && connected_ != true;
    connected_ = connected;
    if (cameUp && onNetworkUp) {
        onNetworkUp();
    }
}

}  // namespace orvalin::desktop
