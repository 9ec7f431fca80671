#include "app/RunModes.hpp"

#include "app/CommandLine.hpp"
#include "core/CapturePaths.hpp"
#include "core/CaptureScanWorker.hpp"
#include "core/Clock.hpp"
#include "core/JsonWriter.hpp"
#include "core/SingleInstanceGuard.hpp"
#include "platform/linux/LibraryScannerFactory.hpp"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace qb::app {

namespace {

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

// Encodes track by track: a document tree of a large library would cost several times the
// scan's own memory. The whole text is built before anything is written, so a failure prints
// nothing on standard output.
std::string encodeScan(const LibraryScan& scan) {
    JsonWriter tracks;
    tracks.beginArray();
    for (const auto& t : scan.tracks) {
        tracks.beginObject();
        tracks.member("persistentID", t.persistentID);
        tracks.member("artist", t.artist);
        tracks.member("album", t.album);
        tracks.member("title", t.title);
        if (t.durationMS) tracks.member("durationMS", *t.durationMS);
        tracks.member("catalogID", t.catalogID);
        tracks.member("playCount", t.playCount);
        if (t.lastPlayedAt) tracks.member("lastPlayedAt", *t.lastPlayedAt);
        tracks.member("albumArtist", t.albumArtist);
        tracks.member("rating", t.rating);
        tracks.member("ratingComputed", t.ratingComputed);
        tracks.member("favourite", t.favourite);
        tracks.endObject();
    }
    tracks.endArray();
    return "{\"tracks\":" + tracks.take() + ",\"metrics\":" + json::dump(scan.metrics.toJson()) +
           "}";
}

int runWorker(const std::vector<std::string>& arguments) {
    auto directory = argument(arguments, "--state-directory");
    auto trigger = argument(arguments, "--trigger");
    if (!directory || !trigger) {
        writeAll(2, "missing worker arguments");
        return 1;
    }
    const auto stateDirectory = std::filesystem::absolute(*directory);
    auto scanner = makeLibraryScanner();
    CaptureScanWorker worker(*scanner, CaptureBaselineStore(stateDirectory),
                             CaptureRuntimeStore(stateDirectory));
    const auto result = worker.run(*trigger, wholeSeconds(systemWallTime()));
    std::string encoded;
    try {
        encoded = json::dump(result.toJson());
    } catch (const std::exception& error) {
        writeAll(2, error.what());
        return 1;
    }
    writeAll(1, encoded);
    return result.ok ? 0 : 1;
}

int runLibraryDump() {
    std::string encoded;
    try {
        auto scanner = makeLibraryScanner();
        encoded = encodeScan(scanner->scan());
    } catch (const std::exception& error) {
        writeAll(2, error.what());
        return 1;
    }
    writeAll(1, encoded);
    return 0;
}

int runApplication() {
    SingleInstanceGuard guard;
    if (!guard.acquire(CapturePaths::singleInstanceLockURL())) {
        writeAll(2, "Quillabrenta for Mac is already running.\n"
                    "Only one copy can run at a time. Check the menu bar.\n");
        return 0;
    }
    writeAll(2, "The menu-bar shell is not built yet: run with --scan-library-json or "
                "--run-capture-worker --state-directory DIR --trigger T.\n");
    return 2;
}

} // namespace

int runFromCommandLine(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    if (hasArgument(arguments, "--run-capture-worker")) return runWorker(arguments);
    if (hasArgument(arguments, "--scan-library-json")) return runLibraryDump();
    return runApplication();
}

} // namespace qb::app
