#pragma once

#include "core/account/UploadCredential.hpp"

#include <optional>
#include <string>

namespace qb::accountEmailBackfill {

// Worth asking the service for the e-mail: a usable stored credential without one.
bool isNeeded(const std::optional<UploadCredential>& stored);

// The credential to save once the identity answer arrived, or absent. Never writes a late
// e-mail into a newer credential: nothing when none is stored now, its token differs from the
// one the request used, or it already has an e-mail.
std::optional<UploadCredential> credentialToSave(const UploadCredential& requested,
                                                 const std::optional<std::string>& fetchedEmail,
                                                 const std::optional<UploadCredential>& storedNow);

} // namespace qb::accountEmailBackfill
