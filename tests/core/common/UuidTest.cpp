#include "core/common/Uuid.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>

TEST(Uuid, IsLowerCaseVersion4AndDiffersEachTime) {
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = qb::makeUuidV4();
        ASSERT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}
