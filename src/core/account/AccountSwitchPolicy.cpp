#include "core/account/AccountSwitchPolicy.hpp"

namespace qb::AccountSwitchPolicy {

bool isAccountSwitch(const std::optional<UploadCredential>& previous,
                     const UploadCredential& next) {
    return previous && !previous->accountID.empty() && !next.accountID.empty() &&
           previous->accountID != next.accountID;
}

} // namespace qb::AccountSwitchPolicy
