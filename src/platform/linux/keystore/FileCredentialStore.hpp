#pragma once

#include "core/account/CredentialStoring.hpp"

#include <filesystem>

namespace qb {

// The credential as a JSON file readable only by this user (mode 0600 in a 0700 directory),
// for sessions where no Secret Service answers.
class FileCredentialStore : public CredentialStoring {
  public:
    explicit FileCredentialStore(std::filesystem::path file);

    // "$XDG_CONFIG_HOME/quillabrenta" (default ~/.config/quillabrenta).
    static std::filesystem::path defaultDirectory();

    const std::filesystem::path& file() const { return file_; }

    std::optional<UploadCredential> load() const override;
    bool save(const UploadCredential& credential) override;
    void clear() override;

    // In a session without a Secret Service, "disconnect" must still reach a credential left in
    // the keyring by an earlier session: the file then says so until a session with one sees it.
    void markCleared();
    bool clearedMarkerPresent() const;

  private:
    std::filesystem::path file_;
};

} // namespace qb
