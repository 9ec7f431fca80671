#include "core/HttpCompanionContextTransport.hpp"

namespace qb {

std::optional<Json> HttpCompanionContextTransport::objectBody(const std::string& body) {
    if (body.empty()) return std::nullopt;
    try {
        Json value = json::parse(body);
        if (value.is_object()) return value;
    } catch (const std::exception&) {
        // A body that is not JSON is treated like no body.
    }
    return std::nullopt;
}

void HttpCompanionContextTransport::get(const std::string& url, const UploadCredential& credential,
                                        Completion completion) {
    HttpRequest request;
    request.method = "GET";
    request.url = url;
    request.headers = {{"Authorization", "Bearer " + credential.token}};
    request.timeoutSeconds = timeoutSeconds_;
    http_.send(std::move(request), [completion = std::move(completion)](HttpResponse response) {
        if (response.status == 0) {
            completion(std::nullopt, 0);
            return;
        }
        completion(objectBody(response.body), response.status);
    });
}

} // namespace qb
