#pragma once

#include "core/account/UploadCredential.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace qb {

// The one place the upload credential is kept. Consumers load it afresh on every use.
class CredentialStoring {
  public:
    virtual ~CredentialStoring() = default;

    // Absent when nothing is stored, the store cannot be read, or the data does not decode.
    virtual std::optional<UploadCredential> load() const = 0;
    // False at once (nothing deleted) for a credential that is not usable or not encodable;
    // otherwise replaces the stored item (delete, then add) and tells whether the add worked.
    virtual bool save(const UploadCredential& credential) = 0;
    // Deletes the stored item; failures are ignored.
    virtual void clear() = 0;

    // The stored bytes of a credential worth storing: absent when it is not usable or its
    // text cannot be encoded (invalid UTF-8).
    static std::optional<std::string> encodeForStorage(const UploadCredential& credential) {
        if (!credential.isUsable()) return std::nullopt;
        try {
            return json::dump(credential.toJson());
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    // Any malformed or incomplete data counts as no credential at all.
    static std::optional<UploadCredential> decodeStored(std::string_view bytes) {
        try {
            return UploadCredential::fromJson(json::parse(bytes));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
};

} // namespace qb
