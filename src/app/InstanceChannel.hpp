#pragma once

#include <QLocalServer>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::app {

// How a second start reaches the running copy: it hands over the "quillabrenta-capture:"
// URLs it was opened with, or asks for the companion window. A local socket in
// $XDG_RUNTIME_DIR; only this user may connect, and only one small message form is heard.
class InstanceChannel {
  public:
    struct Request {
        std::vector<std::string> urls;
        bool show = false;
        bool operator==(const Request&) const = default;
    };
    using Handler = std::function<std::string(const Request& request)>; // returns the answer

    static constexpr size_t maxMessageBytes = 16 * 1024;
    static constexpr size_t maxURLBytes = 4096;
    static constexpr const char* socketName = "quillabrenta-capture.socket";

    // In $XDG_RUNTIME_DIR, else beside the lock in the state directory.
    static std::filesystem::path socketPath(const std::filesystem::path& stateDirectory);

    // "open URL" lines, then "show" when asked, then an empty line.
    static std::string encode(const Request& request);
    // Absent for anything but that form: another scheme, a control character, too long.
    static std::optional<Request> parse(std::string_view message);

    // Serves until destroyed; false when the socket cannot be made.
    bool listen(const std::filesystem::path& path, Handler handler);
    // The running copy's answer, or absent when none answered within a few seconds.
    static std::optional<std::string> send(const std::filesystem::path& path,
                                           const Request& request);

  private:
    void accept();

    QLocalServer server_;
    Handler handler_;
};

} // namespace qb::app
