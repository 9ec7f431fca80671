#pragma once

#include <QFileSystemWatcher>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qb::app {

// Tells when the music library's files change. Players save by writing a new file and
// renaming it over the old one, which ends a watch on the file itself, so the folder is
// watched too and the files are watched again after every change. Other files in the folder
// come and go without a report: only a change of size, time or identity of a named file counts.
class LibraryWatcher {
  public:
    LibraryWatcher(std::filesystem::path folder, std::vector<std::string> names,
                   std::function<void()> changed);

  private:
    struct Stamp {
        bool exists = false;
        int64_t size = 0;
        int64_t modifiedNS = 0;
        uint64_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    std::vector<Stamp> stamps() const;
    void rewatch();
    void check();

    std::filesystem::path folder_;
    std::vector<std::string> names_;
    std::function<void()> changed_;
    std::vector<Stamp> last_;
    QFileSystemWatcher watcher_;
};

} // namespace qb::app
