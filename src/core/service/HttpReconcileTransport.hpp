#pragma once

#include "core/common/HttpSending.hpp"
#include "core/service/ReconcileTransport.hpp"

namespace qb {

// Posts reconcile payloads as JSON with the bearer token and reads the status into an
// UploadResult; the body of the answer is never read.
class HttpReconcileTransport final : public ReconcileTransport {
  public:
    static constexpr const char* path = "/api/native/capture/reconcile";

    HttpReconcileTransport(HttpSending& http, double timeoutSeconds)
        : http_(http), timeoutSeconds_(timeoutSeconds) {}

    void post(const ReconcilePayload& payload, const UploadCredential& credential,
              std::function<void(UploadResult)> completion) override;

    // The result an answer (or a transport failure, status 0) stands for.
    static UploadResult interpret(const HttpResponse& response);

  private:
    HttpSending& http_;
    double timeoutSeconds_;
};

} // namespace qb
