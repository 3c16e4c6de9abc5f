// orvalin-settings: lists, reads and writes the values of the settings store
// from the command line, for people and scripts.
//
// Exit status: 0 done; 1 no such value, or the store dropped the write;
// 2 a wrong call.

#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/strings.h"
#include "settings/settings_store.h"

namespace {

using orvalin::SettingsStore;
using orvalin::StoredValue;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

using Arguments = std::vector<std::string_view>;

// Decimal, optionally signed, nothing around it, within 32 bits.
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

std::string Render(const StoredValue& stored) {
    if (const auto* number = std::get_if<std::int32_t>(&stored.value)) {
        return std::to_string(*number);
    }
    return std::get<std::string>(stored.value);
}

std::string_view TypeName(const StoredValue& stored) {
    return std::holds_alternative<std::int32_t>(stored.value) ? orvalin::text::kToolTypeInt
                                                              : orvalin::text::kToolTypeString;
}

int List(const SettingsStore& store) {
    for (const StoredValue& stored : store.List()) {
        std::cout << stored.section << '\t' << stored.key << '\t' << TypeName(stored) << '\t'
                  << Render(stored) << '\n';
    }
    return kExitOk;
}

int Get(const SettingsStore& store, const Arguments& args) {
    const auto stored = store.Get(args[0], args[1]);
    if (!stored) {
        return kExitFailed;
    }
    std::cout << Render(*stored) << '\n';
    return kExitOk;
}

int Stored(bool written, const SettingsStore& store) {
    if (!written) {
        std::cerr << orvalin::text::kToolWriteFailed << store.Path().string() << '\n';
        return kExitFailed;
    }
    return kExitOk;
}

int SetInt(SettingsStore& store, const Arguments& args) {
    const auto number = ParseInt32(args[2]);
    if (!number) {
        std::cerr << orvalin::text::kToolNotANumber << '"' << args[2] << "\"\n";
        return kExitUsage;
    }
    return Stored(store.WriteInt(args[0], args[1], *number), store);
}

int SetString(SettingsStore& store, const Arguments& args) {
    return Stored(store.WriteString(args[0], args[1], args[2]), store);
}

struct Command {
    std::string_view name;
    std::size_t argumentCount;
    int (*run)(SettingsStore&, const Arguments&);
};

const Command kCommands[] = {
    {"list", 0, [](SettingsStore& store, const Arguments&) { return List(store); }},
    {"get", 2, [](SettingsStore& store, const Arguments& args) { return Get(store, args); }},
    {"set-int", 3, SetInt},
    {"set-string", 3, SetString},
};

}  // namespace

int main(int argc, char** argv) {
    const Arguments args = argc > 1 ? Arguments(argv + 1, argv + argc) : Arguments();
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << orvalin::text::kToolUsage << orvalin::text::kToolStoreIs
                  << SettingsStore::DefaultPath().string() << '\n';
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (!args.empty() && args[0] == command.name && args.size() == command.argumentCount + 1) {
            SettingsStore store(SettingsStore::DefaultPath());
            const int status = command.run(store, Arguments(args.begin() + 1, args.end()));
            std::cout.flush();
            return std::cout.good() ? status : kExitFailed;
        }
    }
    std::cerr << orvalin::text::kToolUsage;
    return kExitUsage;
}
