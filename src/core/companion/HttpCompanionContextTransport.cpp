#include "core/companion/HttpCompanionContextTransport.hpp"

#include "core/account/AuthorizedRequest.hpp"

namespace qb {

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
        completion(jsonObjectBody(response.body), response.status);
    });
}

} // namespace qb
