#include "settings/settings_keys.h"

namespace orvalin {

std::string SiteKey(std::string_view base, int slot) {
    return std::string(base) + std::to_string(slot);
}

}  // namespace orvalin
