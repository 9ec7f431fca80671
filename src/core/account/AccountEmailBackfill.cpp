#include "core/account/AccountEmailBackfill.hpp"

namespace qb::accountEmailBackfill {

bool isNeeded(const std::optional<UploadCredential>& stored) {
    return stored && stored->isUsable() && stored->accountEmail.empty();
}

std::optional<UploadCredential> credentialToSave(const UploadCredential& requested,
                                                 const std::optional<std::string>& fetchedEmail,
                                                 const std::optional<UploadCredential>& storedNow) {
    if (!fetchedEmail || fetchedEmail->empty()) return std::nullopt;
    if (!storedNow || storedNow->token != requested.token) return std::nullopt;
    if (!storedNow->accountEmail.empty()) return std::nullopt;
    return storedNow->withAccountEmail(*fetchedEmail);
}

} // namespace qb::accountEmailBackfill
