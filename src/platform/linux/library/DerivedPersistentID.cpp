#include "platform/linux/library/DerivedPersistentID.hpp"

#include <string>

namespace qb {

namespace {

class Fnv1a64 {
  public:
    void add(unsigned char byte) {
        hash_ ^= byte;
        hash_ *= 0x100000001b3ULL;
    }
    void add(std::string_view bytes) {
        for (char c : bytes)
            add(static_cast<unsigned char>(c));
    }
    uint64_t value() const { return hash_; }

  private:
    uint64_t hash_ = 0xcbf29ce484222325ULL;
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A '%' without two hex digits after it stays as it is.
void addDecoded(Fnv1a64& hash, std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low >= 0) {
            hash.add(static_cast<unsigned char>(high << 4 | low));
            i += 2;
        } else {
            hash.add(static_cast<unsigned char>(text[i]));
        }
    }
}

} // namespace

uint64_t derivedPersistentID(std::string_view location) {
    Fnv1a64 hash;
    addDecoded(hash, location);
    return hash.value();
}

uint64_t derivedPersistentID(std::string_view url, int64_t beginning) {
    Fnv1a64 hash;
    addDecoded(hash, url);
    hash.add('|');
    hash.add(std::to_string(beginning));
    return hash.value();
}

} // namespace qb
