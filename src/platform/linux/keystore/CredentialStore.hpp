#pragma once

#include "core/account/CredentialStoring.hpp"

#include <memory>
#include <mutex>
#include <string>

namespace qb {

// The application's credential store: the Secret Service when one answers on the session
// bus, otherwise a file readable only by this user. The choice is made once, at first use,
// so a credential never ends up written to one place and looked for in the other.
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
    CredentialStoring& backend() const;

    std::string service_;
    std::string account_;
    mutable std::once_flag chosen_;
    mutable std::unique_ptr<CredentialStoring> backend_;
    mutable bool secretService_ = false;
};

} // namespace qb
