#pragma once

#include "core/account/UploadCredential.hpp"
#include "core/capture/ReconcilePayload.hpp"
#include "core/service/UploadResult.hpp"

#include <functional>

namespace qb {

// Carries one reconcile payload to the service. The completion runs exactly once: at once on
// the calling thread when nothing could be sent, otherwise on a network thread.
class ReconcileTransport {
  public:
    virtual ~ReconcileTransport() = default;
    virtual void post(const ReconcilePayload& payload, const UploadCredential& credential,
                      std::function<void(UploadResult)> completion) = 0;
};

} // namespace qb
