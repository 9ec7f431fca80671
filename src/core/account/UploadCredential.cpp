#include "core/account/UploadCredential.hpp"

#include <cctype>

namespace qb {

std::string urlScheme(const std::string& url) {
    auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return {};
    if (!std::isalpha(static_cast<unsigned char>(url[0]))) return {};
    for (size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return {};
    }
    for (unsigned char c : url)
        if (c <= 0x20 || c == 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}')
            return {};
    return url.substr(0, colon);
}

bool UploadCredential::isUsable() const {
    if (token.empty()) return false;
    if (urlScheme(baseURL) != "https") return false;
    // An https URL needs an authority: "https://host".
    return baseURL.size() > 8 && baseURL.compare(0, 8, "https://") == 0;
}

Json UploadCredential::toJson() const {
    return {{"token", token},
            {"baseURL", baseURL},
            {"issuedAt", issuedAt},
            {"accountID", accountID},
            {"accountEmail", accountEmail}};
}

UploadCredential UploadCredential::fromJson(const Json& j) {
    json::requireObject(j, "credential");
    UploadCredential c;
    c.token = json::requireString(j, "token");
    c.baseURL = json::requireString(j, "baseURL");
    c.issuedAt = json::requireInt(j, "issuedAt");
    c.accountID = json::optionalString(j, "accountID").value_or("");
    c.accountEmail = json::optionalString(j, "accountEmail").value_or("");
    return c;
}

} // namespace qb
