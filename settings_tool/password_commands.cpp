// The mail password on the command line: kept in the keyring where one runs,
// in the settings store otherwise; get and set-string say which.
#include "resources/strings.h"
#include "secrets/mail_password.h"
#include "settings/settings_keys.h"
#include "settings_tool/settings_tool.h"
#include "settings_tool/tool_context.h"

namespace orvalin::tool {
namespace {

using Status = KeyringAnswer::Status;

bool Is(const StringKey& k, std::string_view section, std::string_view name) {
    return section == k.section && name == k.name;
}

void TellProblem(const ToolContext& tool, const KeyringAnswer& answer) {
    if (answer.status == Status::kFailed) {
        tool.err << text::kToolKeyringFailed << answer.problem << '\n';
    }
}

}  // namespace

bool IsMailPassword(std::string_view section, std::string_view name) {
    return Is(key::kSmtpPassword, section, name);
}

bool NamesPasswordOwner(std::string_view section, std::string_view name) {
    return Is(key::kSmtp, section, name) || Is(key::kSmtpUsername, section, name);
}

int RunGetPassword(const ToolContext& tool) {
    const SettingsSnapshot snapshot = tool.store.Snapshot();
    if (!snapshot.Readable()) {
        return tool.Unreadable(snapshot);
    }
    const MailPassword found = ReadMailPassword(snapshot, tool.keyring, kKeyringCallLimit);
    if (found.inStore) {
        tool.out << found.password << '\n';
        tool.err << text::kToolPasswordInStore << tool.store.Path().string() << '\n';
        return kExitOk;
    }
    if (found.keyring.status == Status::kDone) {
        tool.out << found.password << '\n';
        tool.err << text::kToolPasswordInKeyring << '\n';
        return kExitOk;
    }
    TellProblem(tool, found.keyring);
    // No password anywhere: the store's empty one, as for any other key.
    if (found.keyring.status == Status::kFailed ||
        !snapshot.Get(key::kSmtpPassword.section, key::kSmtpPassword.name)) {
        return kExitFailed;
    }
    tool.out << '\n';
    return kExitOk;
}

int RunSetPassword(const ToolContext& tool, std::string_view password) {
    const SettingsSnapshot snapshot = tool.store.Snapshot();
    if (!snapshot.Readable()) {
        return tool.Unreadable(snapshot);
    }
    const PasswordOwner owner = OwnerOf(snapshot);
    const KeyringAnswer kept =
        password.empty()
            ? tool.keyring.Remove(owner, kKeyringCallLimit)
            : KeepInKeyring(tool.keyring, owner, std::string(password), kKeyringCallLimit);
    TellProblem(tool, kept);
    const bool inKeyring = kept.status == Status::kDone;
    const int status =
        tool.AfterWrite(tool.store.Write(key::kSmtpPassword, inKeyring ? "" : password));
    if (status == kExitOk && !password.empty()) {
        if (inKeyring) {
            tool.err << text::kToolPasswordInKeyring << '\n';
        } else {
            tool.err << text::kToolPasswordInStore << tool.store.Path().string() << '\n';
        }
    }
    return status;
}

int RunSetPasswordOwner(const ToolContext& tool, std::string_view name, std::string_view value) {
    const SettingsSnapshot before = tool.store.Snapshot();
    const int status = tool.AfterWrite(tool.store.WriteString(key::kSmtp.section, name, value));
    if (status != kExitOk || !before.Readable() || !before.Read(key::kSmtpPassword).empty()) {
        return status;
    }
    // The keyring's item follows the server or user name it is filed under.
    const PasswordOwner was = OwnerOf(before);
    PasswordOwner now = was;
    (name == key::kSmtp.name ? now.server : now.username) = std::string(value);
    if (now != was) {
        TellProblem(tool, MoveKeyringItem(tool.keyring, was, now, kKeyringCallLimit));
    }
    return status;
}

}  // namespace orvalin::tool
