#include "app/RunModes.hpp"

#include "app/ApplicationMode.hpp"
#include "app/CommandLine.hpp"
#include "core/common/CapturePaths.hpp"
#include "core/common/Clock.hpp"
#include "core/common/JsonWriter.hpp"
#include "core/worker/CaptureScanWorker.hpp"
#include "platform/linux/library/LibraryScannerFactory.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace qb::app {

namespace {

// False, with errno set, when the bytes could not all be written.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

int reportWriteFailure(const char* what) {
    writeAll(2, std::string("cannot write ") + what + ": " + std::strerror(errno));
    return 1;
}

// Writes the scan in pieces of about a megabyte: the whole text of a large library would cost
// tens of megabytes more, and touching that memory costs more time than encoding it. The
// scanner hands out valid UTF-8 only, so once the scan succeeded the encoding cannot fail and
// a failed scan still prints nothing on standard output.
bool writeScan(int fd, const LibraryScan& scan) {
    constexpr size_t pieceBytes = 1 << 20;
    JsonWriter out;
    out.reserve(pieceBytes + 64 * 1024);
    out.beginObject();
    out.key("tracks");
    out.beginArray();
    for (const auto& t : scan.tracks) {
        out.beginObject();
        out.member("persistentID", t.persistentID);
        out.member("artist", t.artist);
        out.member("album", t.album);
        out.member("title", t.title);
        if (t.durationMS) out.member("durationMS", *t.durationMS);
        out.member("catalogID", t.catalogID);
        out.member("playCount", t.playCount);
        if (t.lastPlayedAt) out.member("lastPlayedAt", *t.lastPlayedAt);
        out.member("albumArtist", t.albumArtist);
        out.member("rating", t.rating);
        out.member("ratingComputed", t.ratingComputed);
        out.member("favourite", t.favourite);
        out.endObject();
        if (out.text().size() >= pieceBytes) {
            if (!writeAll(fd, out.text())) return false;
            out.clear();
        }
    }
    out.endArray();
    out.key("metrics");
    return writeAll(fd, out.text()) && writeAll(fd, json::dump(scan.metrics.toJson()) + "}");
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
    if (!writeAll(1, encoded)) return reportWriteFailure("the capture result");
    return result.ok ? 0 : 1;
}

int runLibraryDump() {
    try {
        const LibraryScan scan = makeLibraryScanner()->scan();
        if (!writeScan(1, scan)) return reportWriteFailure("the library scan");
    } catch (const std::exception& error) {
        writeAll(2, error.what());
        return 1;
    }
    return 0;
}

} // namespace

int runFromCommandLine(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    if (hasArgument(arguments, "--run-capture-worker")) return runWorker(arguments);
    if (hasArgument(arguments, "--scan-library-json")) return runLibraryDump();
    return runApplication(argc, argv);
}

} // namespace qb::app
