#pragma once

#include "core/common/JsonFields.hpp"

namespace qb {

// The bearer token of this Mac's pairing and where to use it.
struct UploadCredential {
    std::string token;
    std::string baseURL;
    int64_t issuedAt = 0;
    std::string accountID;
    std::string accountEmail;

    // Non-empty token and a baseURL that parses with the exact scheme "https".
    bool isUsable() const;
    UploadCredential withAccountEmail(std::string email) const {
        UploadCredential copy = *this;
        copy.accountEmail = std::move(email);
        return copy;
    }

    bool operator==(const UploadCredential&) const = default;
    // Stored form: all five keys written; accountID and accountEmail optional on reading.
    Json toJson() const;
    static UploadCredential fromJson(const Json& json);
};

// The scheme of a URL text when it parses as an absolute URL, else empty.
std::string urlScheme(const std::string& url);

} // namespace qb
