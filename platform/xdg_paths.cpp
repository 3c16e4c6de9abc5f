#include "platform/xdg_paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace orvalin {
namespace fs = std::filesystem;

namespace {

fs::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/";
}

fs::path FromEnvironment(const char* variable, const fs::path& fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    return fallback;
}

}  // namespace

fs::path XdgConfigHome() {
    return FromEnvironment("XDG_CONFIG_HOME", HomeFolder() / ".config");
}

fs::path XdgStateHome() {
    return FromEnvironment("XDG_STATE_HOME", HomeFolder() / ".local" / "state");
}

fs::path XdgRuntimeDir() {
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    return FromEnvironment("XDG_RUNTIME_DIR", ec ? fs::path("/tmp") : temp);
}

fs::path UserRuntimeFolder(const std::string& name) {
    const fs::path runtime = FromEnvironment("XDG_RUNTIME_DIR", {});
    if (!runtime.empty()) {
        return runtime / name;
    }
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    return (ec ? fs::path("/tmp") : temp) / (name + "-" + std::to_string(::geteuid()));
}

fs::path ProgramFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

bool MakeFolders(const fs::path& dir, unsigned mode) {
    if (dir.empty()) {
        return false;
    }
    fs::path partial;
    for (const auto& part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
            return false;
        }
    }
    std::error_code ec;
    return fs::is_directory(dir, ec);
}

bool MakePrivateFolder(const fs::path& dir) {
    constexpr unsigned kPrivateMode = 0700;
    if (!MakeFolders(dir, kPrivateMode)) {
        return false;
    }
    struct stat info {};
    return ::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

}  // namespace orvalin
