#include "core/ratings/HttpRatingsTransport.hpp"

#include "core/account/AuthorizedRequest.hpp"

namespace qb {
namespace {

constexpr const char* invalidEndpoint = "invalid_endpoint";

std::string statusText(int64_t status) {
    return "http_" + std::to_string(status);
}

// A transport failure keeps the client's description; one without text counts as status 0.
std::string failureText(const HttpResponse& response) {
    return response.error.empty() ? statusText(0) : response.error;
}

// The member's text when the object holds it as a string, else empty.
std::string stringMember(const Json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

void HttpRatingsTransport::availability(const UploadCredential& credential,
                                        std::function<void(RatingsAvailabilityAnswer)> completion) {
    auto request = authorizedRequest(credential, path, "GET", timeoutSeconds_);
    if (!request) {
        completion(RatingsAvailabilityError{invalidEndpoint});
        return;
    }
    http_.send(std::move(*request), [completion = std::move(completion)](HttpResponse response) {
        completion(interpretAvailability(response));
    });
}

void HttpRatingsTransport::post(const RatingsPayload& payload, const UploadCredential& credential,
                                std::function<void(RatingsUploadResult)> completion) {
    auto request = authorizedRequest(credential, path, "POST", timeoutSeconds_);
    if (!request) {
        completion(RatingsUploadResult::transient(invalidEndpoint));
        return;
    }
    try {
        request->body = payload.encode();
    } catch (const std::exception&) {
        // Text that is not valid UTF-8 cannot travel as JSON.
        completion(RatingsUploadResult::transient("encode_failed"));
        return;
    }
    request->headers.emplace_back("Content-Type", "application/json");
    http_.send(std::move(*request), [completion = std::move(completion)](HttpResponse response) {
        completion(interpretPost(response));
    });
}

RatingsAvailabilityAnswer
HttpRatingsTransport::interpretAvailability(const HttpResponse& response) {
    const int64_t status = response.status;
    if (status == 0) return RatingsAvailabilityError{failureText(response)};
    if (status == 404) return RatingsAvailability{false, ""};
    if (status != 200) return RatingsAvailabilityError{statusText(status)};
    auto body = jsonObjectBody(response.body);
    if (!body) return RatingsAvailabilityError{statusText(status)};
    RatingsAvailability answer;
    if (auto it = body->find("enabled"); it != body->end() && it->is_boolean())
        answer.enabled = it->get<bool>();
    answer.baselineSnapshot = stringMember(*body, "baseline_snapshot");
    return answer;
}

RatingsUploadResult HttpRatingsTransport::interpretPost(const HttpResponse& response) {
    const int64_t status = response.status;
    if (status == 0) return RatingsUploadResult::transient(failureText(response));
    if (status >= 200 && status <= 299) {
        auto body = jsonObjectBody(response.body);
        return RatingsUploadResult::accepted(body ? stringMember(*body, "baseline_snapshot") : "");
    }
    if (status == 400 || status == 413 || status == 422)
        return RatingsUploadResult::permanentRejected(status);
    if (status == 401 || status == 403) return RatingsUploadResult::credentialRejected(status);
    if (status == 404) return RatingsUploadResult::unavailable();
    return RatingsUploadResult::transient(statusText(status));
}

} // namespace qb
