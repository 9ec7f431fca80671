#pragma once

#include "core/account/UploadCredential.hpp"

#include <optional>

namespace qb::AccountSwitchPolicy {

// A new credential switches accounts only when both sides name an account and the names
// differ; without an account identifier on either side it simply replaces the stored one.
bool isAccountSwitch(const std::optional<UploadCredential>& previous, const UploadCredential& next);

} // namespace qb::AccountSwitchPolicy
