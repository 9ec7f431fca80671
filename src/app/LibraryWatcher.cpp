#include "app/LibraryWatcher.hpp"

#include <sys/stat.h>

namespace qb::app {

LibraryWatcher::LibraryWatcher(std::filesystem::path folder, std::vector<std::string> names,
                               std::function<void()> changed)
    : folder_(std::move(folder)), names_(std::move(names)), changed_(std::move(changed)) {
    last_ = stamps();
    rewatch();
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this] { check(); });
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, [this] { check(); });
}

std::vector<LibraryWatcher::Stamp> LibraryWatcher::stamps() const {
    std::vector<Stamp> result;
    for (const std::string& name : names_) {
        struct stat info {};
        Stamp stamp;
        if (::stat((folder_ / name).c_str(), &info) == 0) {
            stamp = {true, static_cast<int64_t>(info.st_size),
                     static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                         info.st_mtim.tv_nsec,
                     static_cast<uint64_t>(info.st_ino)};
        }
        result.push_back(stamp);
    }
    return result;
}

void LibraryWatcher::rewatch() {
    if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
    if (watcher_.directories().isEmpty())
        watcher_.addPath(QString::fromStdString(folder_.string()));
    for (const std::string& name : names_) {
        const std::filesystem::path file = folder_ / name;
        if (std::filesystem::exists(file)) watcher_.addPath(QString::fromStdString(file.string()));
    }
}

void LibraryWatcher::check() {
    rewatch();
    std::vector<Stamp> now = stamps();
    if (now == last_) return;
    last_ = std::move(now);
    changed_();
}

} // namespace qb::app
