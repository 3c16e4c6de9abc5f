#include "settings_tool/settings_tool.h"

#include <charconv>

#include "resources/strings.h"
#include "settings/settings_keys.h"
#include "settings/settings_store.h"
#include "settings_tool/tool_context.h"

namespace orvalin::tool {
namespace {

std::string Render(const StoredValue& stored) {
    if (const auto* number = std::get_if<std::int32_t>(&stored.value)) {
        return std::to_string(*number);
    }
    return std::get<std::string>(stored.value);
}

std::string_view TypeName(const StoredValue& stored) {
    return std::holds_alternative<std::int32_t>(stored.value) ? text::kToolTypeInt
                                                              : text::kToolTypeString;
}

constexpr std::string_view kShowSecrets = "--show-secrets";
constexpr std::string_view kHiddenSecret = "********";

// The mail password, unless it is empty: a listing is often shown or pasted.
bool IsSecret(const StoredValue& stored) {
    const auto* password = std::get_if<std::string>(&stored.value);
    return password != nullptr && !password->empty() &&
           stored.section == key::kSmtpPassword.section && stored.key == key::kSmtpPassword.name;
}

// list [--show-secrets]
int List(const ToolContext& tool, const Arguments& args) {
    const bool showSecrets = !args.empty();
    const SettingsSnapshot snapshot = tool.store.Snapshot();
    if (!snapshot.Readable()) {
        return tool.Unreadable(snapshot);
    }
    for (const StoredValue& stored : snapshot.Values()) {
        const std::string value = !showSecrets && IsSecret(stored) ? std::string(kHiddenSecret)
                                                                   : EscapeField(Render(stored));
        tool.out << EscapeField(stored.section) << '\t' << EscapeField(stored.key) << '\t'
                 << TypeName(stored) << '\t' << value << '\n';
    }
    return kExitOk;
}

int Get(const ToolContext& tool, const Arguments& args) {
    if (IsMailPassword(args[0], args[1])) {
        return RunGetPassword(tool);
    }
    const SettingsSnapshot snapshot = tool.store.Snapshot();
    if (!snapshot.Readable()) {
        return tool.Unreadable(snapshot);
    }
    const auto stored = snapshot.Get(args[0], args[1]);
    if (!stored) {
        return kExitFailed;
    }
    tool.out << Render(*stored) << '\n';
    return kExitOk;
}

int SetInt(const ToolContext& tool, const Arguments& args) {
    const auto number = ParseInt32(args[2]);
    if (!number) {
        tool.err << text::kToolNotANumber << '"' << args[2] << "\"\n";
        return kExitUsage;
    }
    return tool.AfterWrite(tool.store.WriteInt(args[0], args[1], *number));
}

int SetString(const ToolContext& tool, const Arguments& args) {
    if (IsMailPassword(args[0], args[1])) {
        return RunSetPassword(tool, args[2]);
    }
    if (NamesPasswordOwner(args[0], args[1])) {
        return RunSetPasswordOwner(tool, args[1], args[2]);
    }
    return tool.AfterWrite(tool.store.WriteString(args[0], args[1], args[2]));
}

struct Command {
    std::string_view name;
    std::size_t fewestArguments;
    std::size_t mostArguments;
    int (*run)(const ToolContext&, const Arguments&);
    std::string_view onlyArgument = {};  // when set, the one argument the command takes

    bool Accepts(const std::vector<std::string_view>& args) const {
        const std::size_t count = args.size() - 1;
        return args[0] == name && count >= fewestArguments && count <= mostArguments &&
               (onlyArgument.empty() || count == 0 || args[1] == onlyArgument);
    }
};

constexpr Command kCommands[] = {
    {"list", 0, 1, List, kShowSecrets},
    {"get", 2, 2, Get},
    {"set-int", 3, 3, SetInt},
    {"set-string", 3, 3, SetString},
    {"site", 2, 4, RunSite},
    {"remove-site", 1, 1, RunRemoveSite},
    {"sites", 0, 0, RunSites},
    {"snooze", 1, 1, RunSnooze},
};

}  // namespace

int ToolContext::Unreadable(const SettingsSnapshot& snapshot) const {
    err << text::kToolUnreadable << store.Path().string() << ": " << snapshot.Problem() << '\n';
    return kExitUnreadable;
}

int ToolContext::AfterWrite(bool written) const {
    if (written) {
        return kExitOk;
    }
    const SettingsSnapshot snapshot = store.Snapshot();
    if (!snapshot.Readable()) {
        return Unreadable(snapshot);
    }
    err << text::kToolWriteFailed << store.Path().string() << '\n';
    return kExitFailed;
}

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    std::int32_t number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return number;
}

std::string EscapeField(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

int RunSettingsTool(const std::vector<std::string_view>& args,
                    const std::filesystem::path& storeFile, IKeyring& keyring, std::ostream& out,
                    std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << text::kToolUsage << text::kToolHelp << text::kToolStoreIs << storeFile.string()
            << '\n';
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (!args.empty() && command.Accepts(args)) {
            SettingsStore store(storeFile);
            return command.run(ToolContext{store, keyring, out, err},
                               Arguments(args.begin() + 1, args.end()));
        }
    }
    err << text::kToolUsage;
    return kExitUsage;
}

}  // namespace orvalin::tool
