#include "core/HttpNowPlayingTransport.hpp"

#include "core/AuthorizedRequest.hpp"

namespace qb {
void HttpNowPlayingTransport::post(const Json& payload, const UploadCredential& credential,
                                   Completion completion) {
    if (!credential.isUsable()) return completion(std::nullopt, 0);
    std::string url = credential.baseURL + path;
    if (urlScheme(url) != "https") return completion(std::nullopt, 0);
    if (!payload.is_object()) return completion(std::nullopt, 0);
    std::string body;
    try {
        body = json::dump(payload);
    } catch (const std::exception&) {
        // Text that is not valid UTF-8 cannot be sent as JSON.
        return completion(std::nullopt, 0);
    }

    HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.headers = {{"Content-Type", "application/json"},
                       {"Authorization", "Bearer " + credential.token}};
    request.body = std::move(body);
    request.timeoutSeconds = timeoutSeconds_;
    http_.send(std::move(request), [completion = std::move(completion)](HttpResponse response) {
        if (response.status == 0) return completion(std::nullopt, 0);
        completion(jsonObjectBody(response.body), response.status);
    });
}

} // namespace qb
