#pragma once

#include <filesystem>
#include <string_view>

namespace qb {

// The user's settings: one JSON object of flags in "$XDG_CONFIG_HOME/quillabrenta/settings.json",
// edited by hand (the product shows no settings window).
class UserSettings {
  public:
    static constexpr const char* fileName = "settings.json";

    UserSettings();
    explicit UserSettings(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }
    // False when the file, the key or a boolean value under it is missing.
    bool flag(std::string_view key) const;

  private:
    std::filesystem::path file_;
};

} // namespace qb
