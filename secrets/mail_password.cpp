#include "secrets/mail_password.h"

#include "resources/strings.h"

namespace orvalin {

using Status = KeyringAnswer::Status;

PasswordOwner OwnerOf(const SettingsSnapshot& store) {
    return PasswordOwner{store.Read(key::kSmtp), store.Read(key::kSmtpUsername)};
}

MailPassword ReadMailPassword(const SettingsSnapshot& store, IKeyring& keyring,
                              std::chrono::milliseconds limit) {
    MailPassword found;
    found.password = store.Read(key::kSmtpPassword);
    if (found.password.empty()) {
        found.inStore = false;
        found.keyring = keyring.Lookup(OwnerOf(store), limit);
        found.password = found.keyring.secret;
    }
    return found;
}

KeyringAnswer KeepInKeyring(IKeyring& keyring, const PasswordOwner& owner,
                            const std::string& password, std::chrono::milliseconds limit) {
    const KeyringAnswer stored = keyring.Store(owner, password, limit);
    if (stored.status != Status::kDone) {
        return stored;
    }
    KeyringAnswer readBack = keyring.Lookup(owner, limit);
    if (readBack.status == Status::kNotFound ||
        (readBack.status == Status::kDone && readBack.secret != password)) {
        return KeyringAnswer{Status::kFailed, {}, std::string(text::kKeyringReadBackDiffers)};
    }
    readBack.secret.clear();
    return readBack;
}

std::optional<KeyringAnswer> MovePasswordIntoKeyring(SettingsStore& store, IKeyring& keyring,
                                                     std::chrono::milliseconds limit) {
    const SettingsSnapshot now = store.Snapshot();
    const std::string password = now.Read(key::kSmtpPassword);
    if (!now.Readable() || password.empty()) {
        return std::nullopt;
    }
    const KeyringAnswer kept = KeepInKeyring(keyring, OwnerOf(now), password, limit);
    if (kept.status == Status::kDone) {
        store.ReplaceIfHeld(key::kSmtpPassword, password, "");
    }
    return kept;
}

KeyringAnswer MoveKeyringItem(IKeyring& keyring, const PasswordOwner& from, const PasswordOwner& to,
                              std::chrono::milliseconds limit) {
    const KeyringAnswer found = keyring.Lookup(from, limit);
    if (found.status != Status::kDone) {
        return found;
    }
    const KeyringAnswer kept = KeepInKeyring(keyring, to, found.secret, limit);
    return kept.status == Status::kDone ? keyring.Remove(from, limit) : kept;
}

}  // namespace orvalin
