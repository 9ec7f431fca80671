#pragma once

#include "core/common/HttpSending.hpp"
#include "core/ratings/RatingsTransport.hpp"

namespace qb {

// The ratings availability check (GET) and page upload (POST) with the bearer token. Nothing
// is retried here; the controller's drain owns the back-off.
class HttpRatingsTransport final : public RatingsTransport {
  public:
    static constexpr const char* path = "/api/native/capture/ratings";

    HttpRatingsTransport(HttpSending& http, double timeoutSeconds)
        : http_(http), timeoutSeconds_(timeoutSeconds) {}

    void availability(const UploadCredential& credential,
                      std::function<void(RatingsAvailabilityAnswer)> completion) override;
    void post(const RatingsPayload& payload, const UploadCredential& credential,
              std::function<void(RatingsUploadResult)> completion) override;

    // What an answer (or a transport failure, status 0) stands for.
    static RatingsAvailabilityAnswer interpretAvailability(const HttpResponse& response);
    static RatingsUploadResult interpretPost(const HttpResponse& response);

  private:
    HttpSending& http_;
    double timeoutSeconds_;
};

} // namespace qb
