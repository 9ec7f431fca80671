#include "platform/linux/desktop/UserSettings.hpp"

#include "core/common/FileIO.hpp"
#include "core/common/JsonFields.hpp"
#include "platform/linux/desktop/XdgDirectories.hpp"

namespace qb {

UserSettings::UserSettings() : UserSettings(xdg::configHome() / "quillabrenta" / fileName) {}

UserSettings::UserSettings(std::filesystem::path file) : file_(std::move(file)) {}

bool UserSettings::flag(std::string_view key) const {
    try {
        const Json settings = json::parse(fileio::readWholeFile(file_));
        const auto it = settings.find(std::string(key));
        return settings.is_object() && it != settings.end() && it->is_boolean() && it->get<bool>();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace qb
