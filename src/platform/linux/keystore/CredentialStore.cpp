#include "platform/linux/keystore/CredentialStore.hpp"

#include "core/common/StableIdentifier.hpp"
#include "platform/linux/keystore/FileCredentialStore.hpp"
#include "platform/linux/keystore/SecretServiceCredentialStore.hpp"

namespace qb {

namespace {

// One file per (service, account) pair, like one key-store item per pair.
std::filesystem::path fileFor(const std::string& service, const std::string& account) {
    if (service == CredentialStore::defaultService && account == CredentialStore::defaultAccount)
        return FileCredentialStore::defaultDirectory() / "credential.json";
    return FileCredentialStore::defaultDirectory() /
           ("credential-" + stableIdentifier({service, account}) + ".json");
}

} // namespace

CredentialStore::CredentialStore(std::string service, std::string account)
    : service_(std::move(service)), account_(std::move(account)),
      file_(fileFor(service_, account_)) {}

CredentialStore::~CredentialStore() = default;

bool CredentialStore::usesSecretService() const {
    std::call_once(chosen_, [this] {
        secretService_ = SecretServiceCredentialStore::isAvailable();
        if (secretService_)
            backend_ = std::make_unique<SecretServiceCredentialStore>(service_, account_);
    });
    return secretService_;
}

// One credential per user, wherever it was written: a file left by a session without a Secret
// Service is newer than anything in the keyring, so it moves in (or, as a "cleared" marker,
// deletes what is there) the first time a session with one reads it.
std::optional<UploadCredential> CredentialStore::load() const {
    if (!usesSecretService()) return file_.load();
    {
        std::lock_guard lock(fallbackLock_);
        if (file_.clearedMarkerPresent()) {
            backend_->clear();
            file_.clear();
        } else if (std::optional<UploadCredential> left = file_.load()) {
            // A locked keyring refuses it; it then stays in the file until it can move.
            if (backend_->save(*left)) file_.clear();
            return left;
        }
    }
    return backend_->load();
}

bool CredentialStore::save(const UploadCredential& credential) {
    if (!usesSecretService()) return file_.save(credential);
    const bool saved = backend_->save(credential);
    if (saved) file_.clear();
    return saved;
}

void CredentialStore::clear() {
    if (!usesSecretService()) {
        file_.clear();
        file_.markCleared();
        return;
    }
    backend_->clear();
    file_.clear();
}

} // namespace qb
