#pragma once

#include "core/account/CredentialStoring.hpp"

#include <string>

namespace qb {

// The credential as one item of the Secret Service (GNOME Keyring, KWallet) in the default
// collection, identified by the attributes "service" and "account"; its secret is the JSON.
class SecretServiceCredentialStore : public CredentialStoring {
  public:
    SecretServiceCredentialStore(std::string service, std::string account);

    // Whether a Secret Service answers on the session bus (DBUS_SESSION_BUS_ADDRESS, else
    // $XDG_RUNTIME_DIR/bus): one that runs now or one the bus can start. Asks with a short
    // time-out so a missing or stuck bus never holds us up.
    static bool isAvailable();

    std::optional<UploadCredential> load() const override;
    bool save(const UploadCredential& credential) override;
    void clear() override;

  private:
    std::string service_;
    std::string account_;
};

} // namespace qb
