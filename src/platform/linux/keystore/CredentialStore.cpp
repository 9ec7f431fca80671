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
    : service_(std::move(service)), account_(std::move(account)) {}

CredentialStore::~CredentialStore() = default;

CredentialStoring& CredentialStore::backend() const {
    std::call_once(chosen_, [this] {
        secretService_ = SecretServiceCredentialStore::isAvailable();
        if (secretService_)
            backend_ = std::make_unique<SecretServiceCredentialStore>(service_, account_);
        else
            backend_ = std::make_unique<FileCredentialStore>(fileFor(service_, account_));
    });
    return *backend_;
}

bool CredentialStore::usesSecretService() const {
    backend();
    return secretService_;
}

std::optional<UploadCredential> CredentialStore::load() const {
    return backend().load();
}

bool CredentialStore::save(const UploadCredential& credential) {
    return backend().save(credential);
}

void CredentialStore::clear() {
    backend().clear();
}

} // namespace qb
