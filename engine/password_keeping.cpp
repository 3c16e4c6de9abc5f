// The mail password in the keyring: moved there from the store, read from
// there, filed there by the email setup, and looked up again before each mail
// that logs in. Every keyring call runs on a worker, never on the front-end
// thread: a keyring blocks on D-Bus and may wait for an unlock prompt.
#include "engine/engine_state.h"
#include "secrets/mail_password.h"

namespace orvalin {

using Status = KeyringAnswer::Status;

bool CMonitorEngine::Shared::StartKeyringJob(std::function<void(Shared&)> job) {
    return StartMailJob([this, job = std::move(job)] {
        std::lock_guard one(keyringJobMutex);
        job(*this);
    });
}

void CMonitorEngine::Shared::NoteKeyring(const KeyringAnswer& answer) {
    std::lock_guard lock(placeMutex);
    passwordPlace.keyring = answer.Answered();
    passwordPlace.problem = answer.status == Status::kFailed ? answer.problem : std::string();
}

PasswordPlace CMonitorEngine::MailPasswordPlace() const {
    PasswordPlace place;
    {
        std::lock_guard lock(shared_->placeMutex);
        place = shared_->passwordPlace;
    }
    place.storeFile = shared_->store->Path().string();
    return place;
}

void CMonitorEngine::Shared::UseKeyringPassword(const PasswordOwner& owner,
                                                const std::string& expected,
                                                const std::string& password) {
    std::lock_guard lock(mailMutex);
    if (mail.server != owner.server || mail.username != owner.username ||
        mail.password != expected || mail.password == password) {
        return;  // the settings changed meanwhile, or nothing to change
    }
    MailSettings updated = mail;
    updated.password = password;
    mail = updated;
    smtp.SetAccount(AccountOf(updated));
}

void CMonitorEngine::Shared::SyncWithKeyring() {
    if (auto moved = MovePasswordIntoKeyring(*store, *keyring, kKeyringCallLimit)) {
        NoteKeyring(*moved);
        return;
    }
    const MailSettings copy = MailCopy();
    const SettingsSnapshot held = store->Cached();
    const MailPassword found = ReadMailPassword(held, *keyring, kKeyringCallLimit);
    if (found.inStore) {
        return;
    }
    NoteKeyring(found.keyring);
    if (found.keyring.Answered()) {
        // An item another program removed leaves no password.
        UseKeyringPassword(OwnerOf(held), copy.password, found.password);
    }
}

void CMonitorEngine::Shared::FilePassword(const MailSettings& before, const MailSettings& after,
                                          bool toKeyring) {
    if (!toKeyring) {
        // The store keeps it: into the keyring, if one has come up since.
        if (auto moved = MovePasswordIntoKeyring(*store, *keyring, kKeyringCallLimit)) {
            NoteKeyring(*moved);
        }
        return;
    }
    const PasswordOwner was{before.server, before.username};
    const PasswordOwner now{after.server, after.username};
    const bool changed = after.password != before.password;
    KeyringAnswer filed{Status::kDone, {}, {}};
    if (!after.password.empty() && (changed || was != now)) {
        filed = KeepInKeyring(*keyring, now, after.password, kKeyringCallLimit);
    } else if (changed) {
        filed = keyring->Remove(now, kKeyringCallLimit);  // the password was cleared
    } else if (was != now) {
        filed = MoveKeyringItem(*keyring, was, now, kKeyringCallLimit);
    }
    NoteKeyring(filed);
    if (!filed.Answered()) {
        // The store keeps it after all, as where no keyring runs.
        if (!after.password.empty()) {
            store->Queue(SettingsBatch().Set(key::kSmtpPassword, after.password));
        }
        return;
    }
    if (was != now && !after.password.empty()) {
        keyring->Remove(was, kKeyringCallLimit);
    }
}

std::optional<std::string> CMonitorEngine::Shared::FreshPassword(const SmtpAccount& account) {
    if (filingsPending.load() > 0 || !store->Cached().Read(key::kSmtpPassword).empty()) {
        return std::nullopt;  // just typed, or the store's own: not yet in the keyring
    }
    const PasswordOwner owner{account.server, account.username};
    const KeyringAnswer found = keyring->Lookup(owner, kKeyringCallLimit);
    NoteKeyring(found);
    if (found.status != Status::kDone) {
        return std::nullopt;  // the held password is the best there is
    }
    UseKeyringPassword(owner, account.password, found.secret);
    return found.secret;
}

}  // namespace orvalin
