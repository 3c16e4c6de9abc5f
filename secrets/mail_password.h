// Where the mail password is kept, and how the programs find it. A password
// the settings store holds is used as it is, and moved into the keyring once
// one runs; an empty one means that the keyring keeps it, under the server and
// user name the store holds.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "secrets/keyring.h"
#include "settings/settings_store.h"

namespace orvalin {

// How long a keyring call may take where nobody waits for it (a worker, a
// command-line tool).
inline constexpr std::chrono::milliseconds kKeyringCallLimit{5000};

// The server and user name the store holds.
PasswordOwner OwnerOf(const SettingsSnapshot& store);

struct MailPassword {
    std::string password;
    bool inStore = true;    // the store holds it (the keyring was not asked)
    KeyringAnswer keyring;  // otherwise what the keyring answered
};

// The password the programs use: the store's when it holds one, otherwise
// the keyring's item for the store's server and user name (without a keyring
// or without an item, the store's empty one).
MailPassword ReadMailPassword(const SettingsSnapshot& store, IKeyring& keyring,
                              std::chrono::milliseconds limit);

// Stores password as owner's item and reads it back: kDone only when the
// keyring gives back the same password.
KeyringAnswer KeepInKeyring(IKeyring& keyring, const PasswordOwner& owner,
                            const std::string& password, std::chrono::milliseconds limit);

// Moves the password the store holds into the keyring: kept there and read
// back, then the store's value emptied, unless the store holds another one by
// then (that one is moved next time). Nothing when the store holds none.
std::optional<KeyringAnswer> MovePasswordIntoKeyring(SettingsStore& store, IKeyring& keyring,
                                                     std::chrono::milliseconds limit);

// Files the item of from under to instead (the server or user name changed):
// kept under to and read back, then removed under from. kNotFound when from
// has no item.
KeyringAnswer MoveKeyringItem(IKeyring& keyring, const PasswordOwner& from, const PasswordOwner& to,
                              std::chrono::milliseconds limit);

}  // namespace orvalin
