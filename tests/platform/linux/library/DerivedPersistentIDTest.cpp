#include "platform/linux/library/DerivedPersistentID.hpp"

#include <gtest/gtest.h>

namespace qb {
namespace {

// Golden values: FNV-1a 64 of the decoded key, worked out apart from this code. A change
// here would make every song of every user's library new.
TEST(DerivedPersistentID, IsTheHashOfTheDecodedKey) {
    EXPECT_EQ(derivedPersistentID(""), 0xCBF29CE484222325u);
    EXPECT_EQ(derivedPersistentID("file:///home/u/Music/Bj%C3%B6rk/Homogenic/01%20J%C3%B3ga.flac"),
              0x9770FF1BB441F278u);
    EXPECT_EQ(
        derivedPersistentID("file:///home/u/Music/Bj%C3%B6rk/Homogenic/01%20J%C3%B3ga.flac", 0),
        0x8DFF9CCA3C31A034u);
    EXPECT_EQ(derivedPersistentID("file:///home/u/Music/Live/concert.flac", 183'000'000'000),
              0x71E76D4C6A87FF87u);
    // A '%' without two hex digits after it is kept as it is.
    EXPECT_EQ(derivedPersistentID("%G1%4"), 0xDA42E8049DCB927Du);
}

TEST(DerivedPersistentID, IgnoresTheChoiceOfEscapes) {
    const uint64_t id =
        derivedPersistentID("file:///home/u/Music/Bj%C3%B6rk/Homogenic/01%20J%C3%B3ga.flac", 0);
    EXPECT_EQ(
        derivedPersistentID("file:///home/u/Music/Bj%c3%b6rk/Homogenic/01%20J%c3%b3ga.flac", 0),
        id);
    EXPECT_EQ(
        derivedPersistentID("file:///home/u/Music/Bj\xC3\xB6rk/Homogenic/01 J\xC3\xB3ga.flac", 0),
        id);
    EXPECT_NE(derivedPersistentID("file:///home/u/Music/Live/concert.flac", 0),
              derivedPersistentID("file:///home/u/Music/Live/concert.flac", 1));
}

} // namespace
} // namespace qb
