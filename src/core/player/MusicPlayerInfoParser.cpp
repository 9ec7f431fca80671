#include "core/player/MusicPlayerInfoParser.hpp"

#include <charconv>
#include <climits>
#include <cmath>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace qb::MusicPlayerInfoParser {
namespace {

const PlayerInfoValue* lookup(const PlayerInfo& info, const char* key) {
    auto it = info.find(key);
    return it == info.end() ? nullptr : &it->second;
}

std::string decimalText(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// A number becomes its decimal text, text stays as it is, anything else is empty.
std::string string(const PlayerInfoValue* value) {
    if (!value) return {};
    if (auto* i = std::get_if<int64_t>(value)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(value)) return decimalText(*d);
    if (auto* s = std::get_if<std::string>(value)) return *s;
    return {};
}

bool isHorizontalSpace(UChar32 c) {
    return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

// Removes leading and trailing space separators and tabs; line breaks stay. Malformed UTF-8
// ends the trimming at that point rather than being guessed at.
std::string trimHorizontal(const std::string& text) {
    if (text.size() > static_cast<size_t>(INT32_MAX)) return text;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t begin = 0;
    while (begin < length) {
        int32_t next = begin;
        UChar32 c = 0;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isHorizontalSpace(c)) break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(bytes, begin, previous, c);
        if (c < 0 || !isHorizontalSpace(c)) break;
        end = previous;
    }
    return text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

std::string lowercasedASCII(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string trimmed(const PlayerInfo& info, const char* key) {
    return trimHorizontal(string(lookup(info, key)));
}

// The integer value of a number; a fraction is cut toward zero. Values no 64-bit integer can
// hold (NaN, infinities, beyond the range) count as not announced.
std::optional<int64_t> integerValue(const PlayerInfoValue* value) {
    if (!value) return std::nullopt;
    if (auto* i = std::get_if<int64_t>(value)) return *i;
    if (auto* d = std::get_if<double>(value)) {
        if (!std::isfinite(*d)) return std::nullopt;
        double whole = std::trunc(*d);
        // 2^63 is exactly representable; every double below it converts without overflow.
        if (whole < -9223372036854775808.0 || whole >= 9223372036854775808.0) return std::nullopt;
        return static_cast<int64_t>(whole);
    }
    return std::nullopt;
}

} // namespace

MusicPlayerInfoOutcome parse(const PlayerInfo& userInfo) {
    // Only ASCII letters matter: the three states compared against are plain ASCII words.
    const std::string state = lowercasedASCII(trimmed(userInfo, "Player State"));
    if (state == "stopped") return MusicPlayerInfoOutcome::stopped();
    if (state != "playing" && state != "paused") return MusicPlayerInfoOutcome::ignored();

    MusicPlayerInfoSample sample;
    sample.artist = trimmed(userInfo, "Artist");
    sample.track = trimmed(userInfo, "Name");
    if (sample.artist.empty() || sample.track.empty()) return MusicPlayerInfoOutcome::ignored();
    sample.album = trimmed(userInfo, "Album");
    sample.playing = state == "playing";
    sample.durationMs = integerValue(lookup(userInfo, "Total Time"));
    sample.libraryPersistentID = string(lookup(userInfo, "Library PersistentID"));
    return MusicPlayerInfoOutcome::ofSample(std::move(sample));
}

} // namespace qb::MusicPlayerInfoParser
