// What the system bus says about sleep and the network, where the services
// exist: logind's PrepareForSleep(false) after a resume, NetworkManager's
// state when it becomes connected. Signals only, received as they come: no
// call waits and nothing polls, so an idle program stays asleep. Without a
// system bus or without the services nothing is ever reported.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <functional>
#include <optional>

#include "desktop/dbus/bus_connector.h"

namespace orvalin::desktop {

class SystemHints : public QObject {
    Q_OBJECT
  public:
    explicit SystemHints(BusConnector connector = ConnectSystemBus, QObject* parent = nullptr);

    std::function<void()> onResumed;
    std::function<void()> onNetworkUp;

    // Connects in the background and subscribes to the two signals.
    void Start();

  private slots:
    void OnPrepareForSleep(bool sleeping);
    void OnNetworkState(uint state);

  private:
    BusConnector connector_;
    bool started_ = false;
    std::optional<bool> connected_;
};

}  // namespace orvalin::desktop
