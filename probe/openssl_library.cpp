#include "probe/openssl_library.h"

#include <dlfcn.h>

#include <string>
#include <type_traits>

namespace orvalin {
namespace {

// The name the runtime library of the OpenSSL these headers describe is
// installed under; libssl brings libcrypto with it.
constexpr const char* kLibrary = "libssl.so." OPENSSL_MSTR(OPENSSL_SHLIB_VERSION);

struct Loaded {
    OpenSsl functions;
    bool ok = false;
    std::string error;
};

Loaded LoadLibrary() {
    Loaded loaded;
    // Never closed: OpenSSL cleans up at exit on its own.
    void* const handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        loaded.error = reason != nullptr ? reason : kLibrary;
        return loaded;
    }
    // A symbol looked up in libssl's handle is found in libcrypto too.
    const auto bind = [&](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        if (function == nullptr && loaded.error.empty()) {
            loaded.error = std::string(kLibrary) + " has no " + name;
        }
    };
#define ORVALIN_OPENSSL_BIND(name) bind(loaded.functions.name, #name);
    ORVALIN_OPENSSL_FUNCTIONS(ORVALIN_OPENSSL_BIND)
#undef ORVALIN_OPENSSL_BIND
    loaded.ok = loaded.error.empty();
    return loaded;
}

}  // namespace

const OpenSsl* OpenSsl::Load(std::string& error) {
    static const Loaded loaded = LoadLibrary();
    if (!loaded.ok) {
        error = loaded.error;
        return nullptr;
    }
    return &loaded.functions;
}

}  // namespace orvalin
