#pragma once

#include "core/common/LoginItemRegistering.hpp"

#include <filesystem>
#include <string>

namespace qb {

// Launch at login as the XDG autostart specification has it: a desktop entry in
// "$XDG_CONFIG_HOME/autostart" that starts this executable. An entry the user switched off in
// the desktop's settings (Hidden=true, X-GNOME-Autostart-enabled=false) counts as not registered.
class AutostartEntry : public LoginItemRegistering {
  public:
    static constexpr const char* fileName = "quillabrenta-capture.desktop";

    explicit AutostartEntry(std::filesystem::path executable);
    AutostartEntry(std::filesystem::path executable, std::filesystem::path directory);

    const std::filesystem::path& file() const { return file_; }

    bool isRegistered() const override;
    void setRegistered(bool registered) override;

    // The entry's text; throws FileError for a path a desktop entry cannot hold.
    std::string contents() const;
    // One argument of an Exec key, quoted and escaped for the desktop entry's value.
    static std::string execArgument(const std::string& argument);

  private:
    std::filesystem::path executable_;
    std::filesystem::path file_;
};

} // namespace qb
