#include "core/StableIdentifier.hpp"

#include <cstdio>

namespace qb {

std::string stableIdentifier(const std::vector<std::string>& parts) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    auto feed = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    };
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) feed('|');
        for (char c : parts[i]) feed(static_cast<unsigned char>(c));
    }
    char text[20];
    std::snprintf(text, sizeof text, "qz_%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string formatPersistentID(uint64_t persistentID) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(persistentID));
    return text;
}

} // namespace qb
