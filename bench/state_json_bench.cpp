// Reads the two largest state files with the production decoders and with a plain simdjson
// On-Demand reader into the same records: the ratings file's decoder is built on On-Demand,
// the baseline's on nlohmann's SAX interface, which needs less memory for the same file.
//
//   state_json_bench generate DIR                      writes ratings-sync.json, capture-baseline.json
//   state_json_bench {production|simdjson} FILE        decodes FILE (by its name), best of 5
//   state_json_bench verify FILE                       both decoders read the same records

#include "core/capture/CaptureBaselineCodec.hpp"
#include "core/common/FileIO.hpp"
#include "core/common/StableIdentifier.hpp"
#include "core/ratings/RatingsSyncState.hpp"

#include <simdjson.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>

using namespace qb;
namespace od = simdjson::ondemand;

namespace {

constexpr int64_t now = 1'700'000'000;

RatingEntry entry(int64_t i) {
    RatingEntry e;
    e.persistentID = formatPersistentID(0x9E3779B97F4A7C15ull * static_cast<uint64_t>(i + 1));
    e.artist = "Artist " + std::to_string(i % 5000);
    e.albumArtist = i % 3 ? "" : e.artist;
    e.album = "Album " + std::to_string(i % 9000);
    e.title = "Track \"" + std::to_string(i) + "\" \u00e9";
    e.rating = (i % 6) * 20;
    e.ratingComputed = i % 7 == 0;
    e.favourite = i % 11 == 0;
    if (i % 2) e.playCount = i % 300;
    return e;
}

// 100,000 remembered ratings and 400 queued pages of 250 songs: the queue's bound, full.
void generate(const std::filesystem::path& dir) {
    RatingsSyncState ratings;
    RatingBaseline baseline;
    for (int64_t i = 0; i < 100'000; ++i) {
        const RatingEntry e = entry(i);
        baseline.insert_or_assign(e.persistentID,
                                  RatingState{e.rating, e.ratingComputed, e.favourite, e.playCount});
    }
    ratings.baseline = std::move(baseline);
    ratings.baselineSnapshotID = "qz_0123456789abcdef";
    for (int64_t p = 0; p < 400; ++p) {
        PendingRatingsPayload page;
        page.payload.installID = "3f2b8c1e-5d4a-4e6f-9a7b-1c2d3e4f5a6b";
        page.payload.syncID = "qz_" + std::to_string(p);
        page.payload.kind = "change";
        page.payload.snapshotID = "qz_0123456789abcdef";
        page.payload.page = p + 1;
        page.payload.pages = 400;
        page.payload.observedAt = now;
        page.payload.librarySongCount = 100'000;
        for (int64_t i = 0; i < 250; ++i)
            page.payload.entries.push_back(entry(p * 250 + i));
        page.attempts = p % 4;
        page.nextAttemptAt = now + p;
        ratings.pending.push_back(std::move(page));
    }
    ratings.userRated = 83'000;
    ratings.favourites = 9'000;
    ratings.lastSyncedAt = now;
    fileio::writeAtomically(dir / "ratings-sync.json", ratings.encode());

    CaptureBaseline capture;
    capture.capturedAt = now;
    for (int64_t i = 0; i < 100'000; ++i) {
        const RatingEntry e = entry(i);
        capture.snapshot[e.persistentID] =
            SnapshotEntry{i % 300, i % 5 ? std::optional<int64_t>(now - i) : std::nullopt, now};
    }
    fileio::writeAtomically(dir / "capture-baseline.json", CaptureBaselineCodec::encode(capture));
}

// The simdjson readers apply the same rules as the production ones: required keys present
// and typed, optional keys missing or null, unknown keys ignored, the last repeated key wins.
struct Required {
    unsigned seen = 0;
    void mark(unsigned bit) { seen |= 1u << bit; }
    void check(unsigned count, const char* what) const {
        if (seen != (1u << count) - 1) throw std::runtime_error(std::string("missing key in ") + what);
    }
};

std::optional<int64_t> optionalInt(od::value v) {
    if (v.is_null()) return std::nullopt;
    return v.get_int64().value();
}

std::string string(od::value v) {
    return std::string(v.get_string().value());
}

RatingEntry readEntry(od::object o) {
    RatingEntry e;
    Required r;
    for (auto field : o) {
        const std::string_view key = field.unescaped_key();
        od::value v = field.value();
        if (key == "persistent_id") e.persistentID = string(v), r.mark(0);
        else if (key == "artist") e.artist = string(v), r.mark(1);
        else if (key == "album_artist") e.albumArtist = string(v), r.mark(2);
        else if (key == "album") e.album = string(v), r.mark(3);
        else if (key == "title") e.title = string(v), r.mark(4);
        else if (key == "rating") e.rating = v.get_int64(), r.mark(5);
        else if (key == "rating_computed") e.ratingComputed = v.get_bool(), r.mark(6);
        else if (key == "favourite") e.favourite = v.get_bool(), r.mark(7);
        else if (key == "play_count") e.playCount = optionalInt(v);
    }
    r.check(8, "rating entry");
    return e;
}

RatingsPayload readPayload(od::object o) {
    RatingsPayload p;
    Required r;
    for (auto field : o) {
        const std::string_view key = field.unescaped_key();
        od::value v = field.value();
        if (key == "install_id") p.installID = string(v), r.mark(0);
        else if (key == "sync_id") p.syncID = string(v), r.mark(1);
        else if (key == "kind") p.kind = string(v), r.mark(2);
        else if (key == "snapshot_id") p.snapshotID = string(v), r.mark(3);
        else if (key == "page") p.page = v.get_int64(), r.mark(4);
        else if (key == "pages") p.pages = v.get_int64(), r.mark(5);
        else if (key == "observed_at") p.observedAt = v.get_int64(), r.mark(6);
        else if (key == "library_song_count") p.librarySongCount = v.get_int64(), r.mark(7);
        else if (key == "entries") {
            p.entries.clear();
            for (auto e : v.get_array())
                p.entries.push_back(readEntry(e.get_object()));
            r.mark(8);
        }
    }
    r.check(9, "ratings payload");
    return p;
}

PendingRatingsPayload readPage(od::object o) {
    PendingRatingsPayload p;
    Required r;
    for (auto field : o) {
        const std::string_view key = field.unescaped_key();
        od::value v = field.value();
        if (key == "payload") p.payload = readPayload(v.get_object()), r.mark(0);
        else if (key == "attempts") p.attempts = v.get_int64(), r.mark(1);
        else if (key == "nextAttemptAt") p.nextAttemptAt = v.get_int64(), r.mark(2);
    }
    r.check(3, "pending ratings page");
    return p;
}

RatingState readState(od::object o) {
    RatingState s;
    Required r;
    for (auto field : o) {
        const std::string_view key = field.unescaped_key();
        od::value v = field.value();
        if (key == "rating") s.rating = v.get_int64(), r.mark(0);
        else if (key == "computed") s.computed = v.get_bool(), r.mark(1);
        else if (key == "favourite") s.favourite = v.get_bool(), r.mark(2);
        else if (key == "playCount") s.playCount = optionalInt(v);
    }
    r.check(3, "rating state");
    return s;
}

RatingsSyncState readRatings(od::document& doc) {
    RatingsSyncState s;
    Required r;
    for (auto field : doc.get_object()) {
        const std::string_view key = field.unescaped_key();
        od::value v = field.value();
        if (key == "schemaVersion") s.schemaVersion = v.get_int64(), r.mark(0);
        else if (key == "baseline") {
            if (v.is_null()) {
                s.baseline.reset();
                continue;
            }
            RatingBaseline baseline;
            for (auto member : v.get_object())
                baseline.insert_or_assign(std::string(member.unescaped_key().value()),
                                          readState(member.value().get_object()));
            s.baseline = std::move(baseline);
        } else if (key == "baselineSnapshotID") s.baselineSnapshotID = string(v), r.mark(1);
        else if (key == "serverBaselineSnapshotID")
            s.serverBaselineSnapshotID = string(v), r.mark(2);
        else if (key == "pending") {
            s.pending.clear();
            for (auto page : v.get_array())
                s.pending.push_back(readPage(page.get_object()));
            r.mark(3);
        } else if (key == "lastQueuedAt") s.lastQueuedAt = optionalInt(v);
        else if (key == "lastSyncedAt") s.lastSyncedAt = optionalInt(v);
        else if (key == "lastChangeQueuedAt") s.lastChangeQueuedAt = optionalInt(v);
        else if (key == "lastAvailabilityCheckAt") s.lastAvailabilityCheckAt = optionalInt(v);
        else if (key == "lastPlayCountRefreshAt") s.lastPlayCountRefreshAt = optionalInt(v);
        else if (key == "userRated") s.userRated = v.get_int64(), r.mark(4);
        else if (key == "favourites") s.favourites = v.get_int64(), r.mark(5);
        else if (key == "lastError") s.lastError = string(v), r.mark(6);
    }
    r.check(7, "ratings state");
    return s;
}

CaptureBaseline readBaseline(od::document& doc) {
    CaptureBaseline b;
    Required r;
    for (auto field : doc.get_object()) {
        const std::string_view key = field.unescaped_key();
        od::value v = field.value();
        if (key == "schemaVersion") b.schemaVersion = v.get_int64(), r.mark(0);
        else if (key == "capturedAt") b.capturedAt = optionalInt(v);
        else if (key == "snapshot") {
            b.snapshot.clear();
            for (auto member : v.get_object()) {
                SnapshotEntry e;
                Required er;
                std::string id(member.unescaped_key().value());
                for (auto f : member.value().get_object()) {
                    const std::string_view k = f.unescaped_key();
                    od::value x = f.value();
                    if (k == "playCount") e.playCount = x.get_int64(), er.mark(0);
                    else if (k == "lastSeenAt") e.lastSeenAt = x.get_int64(), er.mark(1);
                    else if (k == "lastPlayedAt") e.lastPlayedAt = optionalInt(x);
                }
                er.check(2, "snapshot entry");
                b.snapshot.emplace_hint(b.snapshot.end(), std::move(id), e);
            }
            r.mark(1);
        }
    }
    r.check(2, "baseline");
    return b;
}

double bestOf5(const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(end - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "generate") == 0) {
        generate(argv[2]);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: state_json_bench {generate DIR | production FILE | simdjson FILE | verify FILE}\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path file = argv[2];
    const bool ratings = file.filename() == "ratings-sync.json";
    double ms = 0;
    if (mode == "production") {
        const std::string text = fileio::readWholeFile(file);
        ms = ratings ? bestOf5([&] { (void)RatingsSyncState::decode(text); })
                     : bestOf5([&] { (void)CaptureBaselineCodec::decode(text); });
    } else {
        const simdjson::padded_string text = simdjson::padded_string::load(file.string());
        od::parser parser;
        if (mode == "verify") {
            // Same records as the production decoder, or the figures mean nothing.
            const std::string plain = fileio::readWholeFile(file);
            od::document doc = parser.iterate(text);
            const bool same = ratings ? readRatings(doc) == RatingsSyncState::decode(plain)
                                      : readBaseline(doc) == CaptureBaselineCodec::decode(plain);
            if (!same) std::fprintf(stderr, "simdjson read other records from %s\n", argv[2]);
            return same ? 0 : 1;
        }
        // A fresh parser each time, as a store that reads one file once has.
        ms = bestOf5([&] {
            od::parser fresh;
            od::document doc = fresh.iterate(text);
            if (ratings) (void)readRatings(doc);
            else (void)readBaseline(doc);
        });
    }
    std::printf("%.1f\n", ms);
    return 0;
}
