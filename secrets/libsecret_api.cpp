#include "secrets/libsecret_api.h"

#include <dlfcn.h>

namespace orvalin::secret_api {
namespace {

constexpr const char* kLibrary = "libsecret-1.so.0";

// dlsym searches the library and the libraries it depends on (GLib, GIO).
template <typename Function>
bool Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

bool FindAll(void* library, Api& api) {
    return Find(library, "secret_password_lookup_sync", api.lookup) &&
           Find(library, "secret_password_store_sync", api.store) &&
           Find(library, "secret_password_clear_sync", api.clear) &&
           Find(library, "secret_password_free", api.freePassword) &&
           Find(library, "secret_service_disconnect", api.disconnect) &&
           Find(library, "g_error_free", api.freeError) &&
           Find(library, "g_cancellable_new", api.newCancellable) &&
           Find(library, "g_cancellable_cancel", api.cancel) &&
           Find(library, "g_object_unref", api.unref) &&
           Find(library, "g_bus_get_sync", api.getBus) &&
           Find(library, "g_dbus_connection_set_exit_on_close", api.setExitOnClose) &&
           Find(library, "g_dbus_connection_is_closed", api.isClosed) &&
           Find(library, "g_dbus_error_quark", api.dbusError) &&
           Find(library, "g_io_error_quark", api.ioError);
}

}  // namespace

const Api* Load() {
    static Api api{};
    static const bool loaded = [] {
        // Never unloaded: GLib keeps threads and types that outlive any caller.
        void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        return library != nullptr && FindAll(library, api);
    }();
    return loaded ? &api : nullptr;
}

}  // namespace orvalin::secret_api
