#include "platform/linux/library/DerivedPersistentID.hpp"

#include <gtest/gtest.h>

namespace qb {
namespace {

// The source tests pin the IDs of whole songs; here, the key's spelling. Golden values were
// worked out apart from this code: a change would make every song of every library new.
TEST(DerivedPersistentID, DependsOnTheDecodedKeyOnly) {
    const uint64_t joga = 0x8DFF9CCA3C31A034u;
    EXPECT_EQ(
        derivedPersistentID("file:///home/u/Music/Bj%C3%B6rk/Homogenic/01%20J%C3%B3ga.flac", 0),
        joga);
    EXPECT_EQ(
        derivedPersistentID("file:///home/u/Music/Bj%c3%b6rk/Homogenic/01%20J%c3%b3ga.flac", 0),
        joga);
    EXPECT_EQ(
        derivedPersistentID("file:///home/u/Music/Bj\xC3\xB6rk/Homogenic/01 J\xC3\xB3ga.flac", 0),
        joga);
    // A '%' without two hex digits after it is kept as it is.
    EXPECT_EQ(derivedPersistentID("%G1%4"), 0xDA42E8049DCB927Du);
    EXPECT_EQ(derivedPersistentID(""), 0xCBF29CE484222325u);
}

} // namespace
} // namespace qb
