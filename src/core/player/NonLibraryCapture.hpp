#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

// Constants and normalisation shared by the player-session journal and its classifier.
namespace qb::NonLibraryCapture {

// Boolean setting that enables player-session capture; read by the application at start.
inline constexpr const char* defaultsKey = "io.quillabrenta.capture.nonLibraryPlayerSessions";
// A session is decided only this long after its last observation.
inline constexpr int64_t settleSeconds = 300;
// Library moves older than this before the pass are forgotten.
inline constexpr int64_t moveRetentionSeconds = 21600;
// A move counts for a session seen up to this long after the move.
inline constexpr int64_t moveLeadSlackSeconds = 60;
inline constexpr int64_t exceedsDurationSlackMS = 30000;
inline constexpr int64_t maxJournaledSessions = 500;
inline constexpr int64_t maxRecentMoves = 2000;
inline constexpr const char* source = "native_mac_apple_music";

// fold(artist) U+0001 fold(track), with the locale-free folding of foldForMatching.
std::string recordingKey(const std::string& artist, const std::string& track);

// Every 16-digit upper-case hexadecimal persistent ID the player's identifier text may name:
// its signed decimal reading as an unsigned bit pattern, its unsigned decimal reading and its
// hexadecimal reading (optional "0x"); zero is never a candidate.
std::unordered_set<std::string> persistentIDCandidates(const std::string& raw);

} // namespace qb::NonLibraryCapture
