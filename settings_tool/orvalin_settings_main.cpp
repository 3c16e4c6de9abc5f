// orvalin-settings: the settings store on the command line. The commands and
// their exit statuses are in settings_tool.h and --help.

#include <iostream>
#include <string_view>
#include <vector>

#include "secrets/keyring.h"
#include "settings/settings_store.h"
#include "settings_tool/settings_tool.h"

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const int status =
        orvalin::tool::RunSettingsTool(args, orvalin::SettingsStore::DefaultPath(),
                                       *orvalin::SessionKeyring(), std::cout, std::cerr);
    std::cout.flush();
    return std::cout.good() ? status : orvalin::tool::kExitFailed;
}
