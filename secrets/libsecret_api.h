// libsecret and the few GLib calls around it, loaded when they are first
// needed: linked in, GLib's and libsecret's start-up would cost every run of
// a program about 12 ms, where most runs never talk to a keyring.
#pragma once

#include <libsecret/secret.h>

namespace orvalin::secret_api {

struct Api {
    decltype(&secret_password_lookup_sync) lookup;
    decltype(&secret_password_store_sync) store;
    decltype(&secret_password_clear_sync) clear;
    decltype(&secret_password_free) freePassword;
    decltype(&secret_service_disconnect) disconnect;
    decltype(&g_error_free) freeError;
    decltype(&g_cancellable_new) newCancellable;
    decltype(&g_cancellable_cancel) cancel;
    decltype(&g_object_unref) unref;
    decltype(&g_bus_get_sync) getBus;
    decltype(&g_dbus_connection_set_exit_on_close) setExitOnClose;
    decltype(&g_dbus_connection_is_closed) isClosed;
    decltype(&g_dbus_error_quark) dbusError;
    decltype(&g_io_error_quark) ioError;
};

// The calls, loaded once; nullptr when libsecret cannot be loaded.
const Api* Load();

}  // namespace orvalin::secret_api
