#pragma once

#include "core/account/CredentialStoring.hpp"
#include "platform/linux/keystore/FileCredentialStore.hpp"

#include <memory>
#include <mutex>
#include <string>

namespace qb {

// The application's credential store: the Secret Service when one answers on the session
// bus, otherwise a file readable only by this user. Which one is decided once per process, at
// first use; a file left by a session without a Secret Service moves into it when one answers,
// so each user has one credential, wherever it was written.
class CredentialStore : public CredentialStoring {
  public:
    static constexpr const char* defaultService = "io.quillabrenta.capture.mac";
    static constexpr const char* defaultAccount = "native-capture-upload";

    explicit CredentialStore(std::string service = defaultService,
                             std::string account = defaultAccount);
    ~CredentialStore() override;

    const std::string& service() const { return service_; }
    const std::string& account() const { return account_; }
    // Whether the Secret Service was chosen (decides on the first call).
    bool usesSecretService() const;

    std::optional<UploadCredential> load() const override;
    bool save(const UploadCredential& credential) override;
    void clear() override;

  private:
    std::string service_;
    std::string account_;
    mutable FileCredentialStore file_;
    mutable std::once_flag chosen_;
    mutable std::unique_ptr<CredentialStoring> backend_; // the Secret Service, when it answers
    mutable bool secretService_ = false;
    mutable std::mutex fallbackLock_;
};

} // namespace qb
