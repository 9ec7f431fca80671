#include "core/account/AccountSwitchPolicy.hpp"

#include <gtest/gtest.h>

using namespace qb;

namespace {
UploadCredential forAccount(std::string accountID) {
    return UploadCredential{"token", "https://quillabrenta.example", 1767225600,
                            std::move(accountID), ""};
}
} // namespace

TEST(AccountSwitchPolicyTest, OnlyTwoDifferentKnownAccountsMakeASwitch) {
    using AccountSwitchPolicy::isAccountSwitch;
    EXPECT_FALSE(isAccountSwitch(std::nullopt, forAccount("acct_1")));
    EXPECT_FALSE(isAccountSwitch(forAccount(""), forAccount("acct_1")));
    EXPECT_FALSE(isAccountSwitch(forAccount("acct_1"), forAccount("")));
    EXPECT_FALSE(isAccountSwitch(forAccount("acct_1"), forAccount("acct_1")));
    EXPECT_TRUE(isAccountSwitch(forAccount("acct_1"), forAccount("acct_2")));
    // A different token or e-mail for the same account is a refresh, not a switch.
    UploadCredential refreshed = forAccount("acct_1").withAccountEmail("ada@example.com");
    refreshed.token = "other";
    EXPECT_FALSE(isAccountSwitch(forAccount("acct_1"), refreshed));
}
