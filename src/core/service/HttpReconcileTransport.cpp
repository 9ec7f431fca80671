#include "core/service/HttpReconcileTransport.hpp"

#include "core/account/AuthorizedRequest.hpp"

namespace qb {

void HttpReconcileTransport::post(const ReconcilePayload& payload,
                                  const UploadCredential& credential,
                                  std::function<void(UploadResult)> completion) {
    std::optional<HttpRequest> request =
        authorizedRequest(credential, path, "POST", timeoutSeconds_);
    if (!request) {
        completion(UploadResult::transient("invalid_endpoint"));
        return;
    }
    try {
        request->body = json::dump(payload.toJson());
    } catch (const std::exception&) {
        completion(UploadResult::transient("encode_failed"));
        return;
    }
    request->headers.emplace_back("Content-Type", "application/json");
    request->ignoresBody = true; // the status says it all
    http_.send(std::move(*request), [completion = std::move(completion)](HttpResponse response) {
        completion(interpret(response));
    });
}

UploadResult HttpReconcileTransport::interpret(const HttpResponse& response) {
    int64_t status = response.status;
    if (status == 0)
        return UploadResult::transient(response.error.empty() ? "http_0" : response.error);
    if (status >= 200 && status <= 299) return UploadResult::accepted();
    if (status == 400 || status == 422) return UploadResult::permanentRejected(status);
    if (status == 401 || status == 403) return UploadResult::credentialRejected(status);
    return UploadResult::transient("http_" + std::to_string(status));
}

} // namespace qb
