#include "core/account/AuthorizedRequest.hpp"

namespace qb {

std::optional<HttpRequest> authorizedRequest(const UploadCredential& credential,
                                             std::string_view path, std::string method,
                                             double timeoutSeconds) {
    if (!credential.isUsable()) return std::nullopt;
    std::string url = credential.baseURL;
    url += path;
    if (urlScheme(url).empty()) return std::nullopt;
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.headers = {{"Authorization", "Bearer " + credential.token}};
    request.timeoutSeconds = timeoutSeconds;
    return request;
}

std::optional<Json> jsonObjectBody(const std::string& body) {
    if (body.empty()) return std::nullopt;
    try {
        Json value = json::parse(body);
        if (value.is_object()) return value;
    } catch (const std::exception&) {
        // Whatever the service sent, an unreadable body only means "no object".
    }
    return std::nullopt;
}

} // namespace qb
