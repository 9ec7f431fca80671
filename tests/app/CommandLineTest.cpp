#include "app/CommandLine.hpp"

#include <gtest/gtest.h>

using qb::app::argument;

TEST(CommandLine, ArgumentIsTheElementBehindTheFirstOccurrence) {
    std::vector<std::string> args{"prog", "--trigger", "a", "--trigger", "b"};
    EXPECT_EQ(argument(args, "--trigger"), "a");
    EXPECT_EQ(argument({"prog", "--state-directory", "--trigger"}, "--state-directory"),
              "--trigger");
    EXPECT_EQ(argument({"prog", "--trigger"}, "--trigger"), std::nullopt);
    EXPECT_EQ(argument({"prog"}, "--trigger"), std::nullopt);
    // The program path takes part in the search.
    EXPECT_EQ(argument({"--trigger", "x"}, "--trigger"), "x");
}
