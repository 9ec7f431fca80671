#include "core/player/NonLibraryCapture.hpp"

#include "core/common/StableIdentifier.hpp"
#include "core/common/TextFolding.hpp"

#include <limits>
#include <optional>
#include <string_view>

namespace qb::NonLibraryCapture {

namespace {

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Digits only, at least one, no overflow of 64 bits.
std::optional<uint64_t> readUnsigned(std::string_view digits, unsigned base) {
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        int digit = base == 16 ? hexDigitValue(c) : (isDecimalDigit(c) ? c - '0' : -1);
        if (digit < 0) return std::nullopt;
        if (__builtin_mul_overflow(value, base, &value) ||
            __builtin_add_overflow(value, static_cast<uint64_t>(digit), &value))
            return std::nullopt;
    }
    return value;
}

// Optional sign, then decimal digits; the value must fit a signed 64-bit integer.
// Returns its two's-complement bit pattern.
std::optional<uint64_t> readSignedBits(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    auto magnitude = readUnsigned(text, 10);
    if (!magnitude) return std::nullopt;
    constexpr auto maxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (*magnitude > maxPositive + (negative ? 1 : 0)) return std::nullopt;
    return negative ? uint64_t{0} - *magnitude : *magnitude;
}

std::optional<uint64_t> readHex(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    return readUnsigned(text, 16);
}

} // namespace

std::string recordingKey(const std::string& artist, const std::string& track) {
    return foldForMatching(artist) + '\x01' + foldForMatching(track);
}

std::unordered_set<std::string> persistentIDCandidates(const std::string& raw) {
    std::unordered_set<std::string> candidates;
    const std::string text = trimWhitespaceAndNewlines(raw);
    if (text.empty()) return candidates;
    for (auto value : {readSignedBits(text), readUnsigned(text, 10), readHex(text)})
        if (value && *value != 0) candidates.insert(formatPersistentID(*value));
    return candidates;
}

} // namespace qb::NonLibraryCapture
