#include "desktop/dbus/bus_connector.h"

#include <QFutureWatcher>
#include <QPromise>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

namespace orvalin::desktop {
namespace {

using Result = std::optional<QDBusConnection>;

}  // namespace

QDBusConnection ConnectSessionBus() {
    return QDBusConnection::sessionBus();
}

QDBusConnection ConnectSystemBus() {
    return QDBusConnection::systemBus();
}

void ConnectInBackground(BusConnector connect, QObject& receiver,
                         std::function<void(const QDBusConnection&)> ready) {
    // The promise outlives the receiver when the attempt does: the watcher,
    // the receiver's child, goes with it and nothing is delivered.
    auto promise = std::make_shared<QPromise<Result>>();
    auto* watcher = new QFutureWatcher<Result>(&receiver);
    QObject::connect(watcher, &QFutureWatcherBase::finished, &receiver,
                     [watcher, ready = std::move(ready)] {
                         const Result result = watcher->result();
                         watcher->deleteLater();
                         ready(result ? *result : QDBusConnection(QString()));
                     });
    watcher->setFuture(promise->future());
    promise->start();
    try {
        std::thread([promise, connect = std::move(connect)] {
            promise->addResult(Result(connect()));
            promise->finish();
        }).detach();
    } catch (const std::system_error&) {
        promise->addResult(Result());
        promise->finish();
    }
}

}  // namespace orvalin::desktop
