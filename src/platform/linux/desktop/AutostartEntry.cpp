#include "platform/linux/desktop/AutostartEntry.hpp"

#include "core/common/FileIO.hpp"
#include "platform/linux/desktop/XdgDirectories.hpp"

#include <sstream>

namespace qb {

AutostartEntry::AutostartEntry(std::filesystem::path executable)
    : AutostartEntry(std::move(executable), xdg::configHome() / "autostart") {}

AutostartEntry::AutostartEntry(std::filesystem::path executable, std::filesystem::path directory)
    : executable_(std::move(executable)), file_(std::move(directory) / fileName) {}

std::string AutostartEntry::execArgument(const std::string& argument) {
    // Quoting first, then the escapes every string value has; "%" would be a field code.
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '%')
            value += "%%";
        else
            value += c;
    }
    return value;
}

std::string AutostartEntry::contents() const {
    const std::string path = executable_.string();
    if (path.find_first_of("\n\r") != std::string::npos)
        throw FileError("the path of this program cannot be written into a desktop entry: " + path);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quillabrenta for Mac\n"
           "Comment=Puts every play into your Quillabrenta listening archive\n"
           "Exec=" +
           execArgument(path) +
           "\n"
           "Icon=quillabrenta-capture\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntry::isRegistered() const {
    std::string text;
    try {
        text = fileio::readWholeFile(file_);
    } catch (const FileError&) {
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    bool inEntry = false;
    bool enabled = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") enabled = false;
    }
    return enabled;
}

void AutostartEntry::setRegistered(bool registered) {
    if (!registered) {
        fileio::removeIfExists(file_);
        return;
    }
    const std::string text = contents();
    fileio::createDirectoriesQuietly(file_.parent_path()); // a failure shows in the write
    fileio::writeAtomically(file_, text);
}

} // namespace qb
