#include "core/common/StableIdentifier.hpp"

namespace qb {

namespace {

// Sixteen hex digits of `value`, most significant first. This runs for every library track,
// where snprintf's format parsing showed up in profiles.
void writeHex(uint64_t value, const char* digits, char* out) {
    for (int i = 15; i >= 0; --i, value >>= 4)
        out[i] = digits[value & 0xF];
}

} // namespace

std::string stableIdentifier(const std::vector<std::string>& parts) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    auto feed = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    };
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) feed('|');
        for (char c : parts[i])
            feed(static_cast<unsigned char>(c));
    }
    std::string text = "qz_";
    text.resize(3 + 16);
    writeHex(hash, "0123456789abcdef", text.data() + 3);
    return text;
}

std::string formatPersistentID(uint64_t persistentID) {
    std::string text(16, '0');
    writeHex(persistentID, "0123456789ABCDEF", text.data());
    return text;
}

} // namespace qb
