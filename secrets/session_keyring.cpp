// The Secret Service on the session bus through libsecret. Every call runs on
// a short-lived thread of its own while the caller waits within its limit: a
// libsecret call blocks on D-Bus, and an unlock prompt may never be answered.
#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "resources/strings.h"
#include "secrets/keyring.h"
#include "secrets/libsecret_api.h"

namespace orvalin {
namespace {

using Status = KeyringAnswer::Status;
using secret_api::Api;

// The item's schema: libsecret adds its name as the attribute xdg:schema.
constexpr const char* kSchemaName = "org.quenbridge.Orvalin.MailPassword";
constexpr const char* kProgram = "orvalin";

const SecretSchema& Schema() {
    static const SecretSchema schema = [] {
        SecretSchema made{};
        made.name = kSchemaName;
        made.flags = SECRET_SCHEMA_NONE;
        made.attributes[0] = {"application", SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[1] = {"server", SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[2] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return made;
    }();
    return schema;
}

KeyringAnswer Answer(Status status, std::string_view problem = {}) {
    return KeyringAnswer{status, {}, std::string(problem)};
}

// GLib finds the session bus the same way (and would otherwise try to start
// one through X11).
bool SessionBusExists() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat bus {};
    return runtime != nullptr && *runtime == '/' &&
           ::stat((std::filesystem::path(runtime) / "bus").c_str(), &bus) == 0 &&
           S_ISSOCK(bus.st_mode);
}

// What a failed call means: no Secret Service to talk to, or one that failed.
KeyringAnswer FromError(const Api& api, GError* error) {
    KeyringAnswer answer = Answer(Status::kFailed, error->message != nullptr ? error->message : "");
    if (error->domain == api.dbusError()) {
        switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
            case G_DBUS_ERROR_SPAWN_FORK_FAILED:
            case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
            case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
            case G_DBUS_ERROR_SPAWN_FAILED:
            case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
                answer.status = Status::kNoKeyring;
                break;
            default:
                break;
        }
    }
    api.freeError(error);
    return answer;
}

// Holds GLib's shared session-bus connection, which libsecret uses, for the
// life of the process, with exit-on-close turned off: by default GLib ends
// the whole process when the session bus goes away. A connection that has
// closed is replaced at the next call.
bool HoldSessionBus(const Api& api, GCancellable* cancellable, KeyringAnswer& failure) {
    static std::mutex mutex;
    static GDBusConnection* bus = nullptr;
    std::lock_guard lock(mutex);
    if (bus != nullptr && api.isClosed(bus)) {
        api.unref(bus);
        bus = nullptr;
        api.disconnect();  // libsecret's service still holds the old connection
    }
    if (bus == nullptr) {
        GError* error = nullptr;
        bus = api.getBus(G_BUS_TYPE_SESSION, cancellable, &error);
        if (bus == nullptr) {
            failure = FromError(api, error);
            failure.status = Status::kNoKeyring;
            return false;
        }
        api.setExitOnClose(bus, FALSE);
    }
    return true;
}

// One keyring call on its own thread. The caller waits within its limit;
// when it gives up, the call is cancelled and ends on its thread, which holds
// the only other reference to this state.
struct PendingCall {
    explicit PendingCall(const Api& library)
        : api(library), cancellable(library.newCancellable()) {}
    ~PendingCall() { api.unref(cancellable); }
    PendingCall(const PendingCall&) = delete;
    PendingCall& operator=(const PendingCall&) = delete;

    const Api& api;
    GCancellable* cancellable;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    KeyringAnswer answer;
};

using KeyringWork = std::function<KeyringAnswer(const Api&, GCancellable*)>;

KeyringAnswer RunBounded(std::chrono::milliseconds limit, KeyringWork work) {
    if (!SessionBusExists()) {
        return Answer(Status::kNoKeyring, text::kKeyringNoBus);
    }
    const Api* api = secret_api::Load();
    if (api == nullptr) {
        return Answer(Status::kNoKeyring, text::kKeyringNoLibrary);
    }
    auto call = std::make_shared<PendingCall>(*api);
    try {
        std::thread([call, work = std::move(work)] {
            KeyringAnswer failure;
            KeyringAnswer answer = HoldSessionBus(call->api, call->cancellable, failure)
                                       ? work(call->api, call->cancellable)
                                       : failure;
            std::lock_guard lock(call->mutex);
            call->answer = std::move(answer);
            call->done = true;
            call->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return Answer(Status::kFailed, text::kKeyringNoThread);
    }
    std::unique_lock lock(call->mutex);
    if (!call->finished.wait_for(lock, limit, [&call] { return call->done; })) {
        api->cancel(call->cancellable);
        return Answer(Status::kFailed, text::kKeyringTimedOut);
    }
    return std::move(call->answer);
}

class SecretServiceKeyring final : public IKeyring {
  public:
    KeyringAnswer Lookup(const PasswordOwner& owner, std::chrono::milliseconds limit) override {
        return RunBounded(limit, [owner](const Api& api, GCancellable* cancellable) {
            GError* error = nullptr;
            gchar* found =
                api.lookup(&Schema(), cancellable, &error, "application", kProgram, "server",
                           owner.server.c_str(), "user", owner.username.c_str(), nullptr);
            if (error != nullptr) {
                return FromError(api, error);
            }
            if (found == nullptr) {
                return Answer(Status::kNotFound);
            }
            KeyringAnswer answer = Answer(Status::kDone);
            answer.secret = found;
            api.freePassword(found);  // wipes the copy
            return answer;
        });
    }

    KeyringAnswer Store(const PasswordOwner& owner, const std::string& password,
                        std::chrono::milliseconds limit) override {
        const std::string label = std::string(text::kKeyringLabelBefore) + owner.username +
                                  std::string(text::kKeyringLabelBetween) + owner.server;
        return RunBounded(
            limit, [owner, password, label](const Api& api, GCancellable* cancellable) {
                GError* error = nullptr;
                api.store(&Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(),
                          cancellable, &error, "application", kProgram, "server",
                          owner.server.c_str(), "user", owner.username.c_str(), nullptr);
                return error != nullptr ? FromError(api, error) : Answer(Status::kDone);
            });
    }

    KeyringAnswer Remove(const PasswordOwner& owner, std::chrono::milliseconds limit) override {
        return RunBounded(limit, [owner](const Api& api, GCancellable* cancellable) {
            GError* error = nullptr;
            api.clear(&Schema(), cancellable, &error, "application", kProgram, "server",
                      owner.server.c_str(), "user", owner.username.c_str(), nullptr);
            return error != nullptr ? FromError(api, error) : Answer(Status::kDone);
        });
    }
};

}  // namespace

std::shared_ptr<IKeyring> SessionKeyring() {
    static const auto keyring = std::make_shared<SecretServiceKeyring>();
    return keyring;
}

}  // namespace orvalin
