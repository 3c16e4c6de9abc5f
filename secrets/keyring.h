// The desktop's keyring, where the mail password is kept when one runs: a
// small interface the engine and the front ends see, and the Secret Service
// on the session bus behind it (GNOME Keyring, KWallet).
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace orvalin {

// What the mail password belongs to; with the program's name these name its
// item in the keyring.
struct PasswordOwner {
    std::string server;    // the SMTP setting as held: "host" or "host:port"
    std::string username;  // SMTPUsername

    bool operator==(const PasswordOwner&) const = default;
};

struct KeyringAnswer {
    enum class Status {
        kDone,       // found (Lookup), stored (Store) or removed (Remove)
        kNotFound,   // the keyring answered and holds no such item
        kNoKeyring,  // no session bus, or no Secret Service on it
        kFailed,     // a keyring is there but could not be used (problem says why)
    };
    Status status = Status::kNoKeyring;
    std::string secret;   // Lookup's password
    std::string problem;  // kNoKeyring, kFailed: why, in a few words for people

    // The keyring answered (whatever it held).
    bool Answered() const { return status == Status::kDone || status == Status::kNotFound; }
};

class IKeyring {
  public:
    virtual ~IKeyring() = default;
    // Each call returns within limit: a keyring that has not answered by then
    // (a D-Bus call that hangs, an unlock prompt nobody answers) is given up
    // and counts as kFailed.
    virtual KeyringAnswer Lookup(const PasswordOwner& owner, std::chrono::milliseconds limit) = 0;
    // Replaces the owner's item, creating it when there is none.
    virtual KeyringAnswer Store(const PasswordOwner& owner, const std::string& password,
                                std::chrono::milliseconds limit) = 0;
    // kDone also when there was nothing to remove.
    virtual KeyringAnswer Remove(const PasswordOwner& owner, std::chrono::milliseconds limit) = 0;
};

// The Secret Service of the session bus, through libsecret, which is loaded
// at the first call that finds a session bus. Without a session bus
// ($DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus) every call answers
// kNoKeyring at once, without loading anything. Safe from any thread.
std::shared_ptr<IKeyring> SessionKeyring();

}  // namespace orvalin
