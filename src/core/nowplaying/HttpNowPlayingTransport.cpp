#include "core/nowplaying/HttpNowPlayingTransport.hpp"

#include "core/account/AuthorizedRequest.hpp"

namespace qb {

void HttpNowPlayingTransport::post(const Json& payload, const UploadCredential& credential,
                                   Completion completion) {
    std::optional<HttpRequest> request =
        authorizedRequest(credential, path, "POST", timeoutSeconds_);
    if (!request || !payload.is_object()) return completion(std::nullopt, 0);
    try {
        request->body = json::dump(payload);
    } catch (const std::exception&) {
        // Text that is not valid UTF-8 cannot be sent as JSON.
        return completion(std::nullopt, 0);
    }
    request->headers.emplace_back("Content-Type", "application/json");
    http_.send(std::move(*request), [completion = std::move(completion)](HttpResponse response) {
        if (response.status == 0) return completion(std::nullopt, 0);
        completion(jsonObjectBody(response.body), response.status);
    });
}

} // namespace qb
