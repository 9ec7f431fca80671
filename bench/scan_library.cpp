// Scans the library named by QUILLABRENTA_LIBRARY once and prints the track count, the
// scan's own metrics and the wall time on standard error. With --json it also writes the
// whole scan as JSON to standard output through one document tree, as the library dump
// does; with --json-stream it writes the same text one track at a time, to compare peaks.

#include "core/common/CaptureError.hpp"
#include "platform/linux/library/LibraryScannerFactory.hpp"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void writeStreamed(const qb::LibraryScan& scan) {
    std::string out = "{\"tracks\":[";
    for (size_t i = 0; i < scan.tracks.size(); ++i) {
        if (i > 0) out += ',';
        out += scan.tracks[i].toJson().dump();
        if (out.size() > (1 << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    out += "],\"metrics\":" + scan.metrics.toJson().dump() + "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!mode.empty() && mode != "--json" && mode != "--json-stream") {
        std::fprintf(stderr, "usage: scan_library [--json | --json-stream]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        const qb::LibraryScan scan = qb::makeLibraryScanner()->scan();
        const double scanned = millisecondsSince(start);
        if (mode == "--json") std::cout << scan.toJson().dump() << '\n' << std::flush;
        if (mode == "--json-stream") writeStreamed(scan);
        std::fprintf(stderr, "tracks %zu, scan %.1f ms, with output %.1f ms, metrics %s\n",
                     scan.tracks.size(), scanned, millisecondsSince(start),
                     scan.metrics.toJson().dump().c_str());
    } catch (const qb::CaptureError& error) {
        std::fprintf(stderr, "%s\n", error.description().c_str());
        return 1;
    }
    return 0;
}
