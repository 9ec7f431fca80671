#pragma once

#include "core/account/UploadCredential.hpp"
#include "core/ratings/RatingsPayload.hpp"

#include <functional>
#include <variant>

namespace qb {

// Whether the service takes ratings pages for this account, and the baseline it holds.
struct RatingsAvailability {
    bool enabled = false;
    std::string baselineSnapshot;
    bool operator==(const RatingsAvailability&) const = default;
};

// A failed availability check; its text is never shown (failures are ignored).
struct RatingsAvailabilityError {
    std::string message;
    bool operator==(const RatingsAvailabilityError&) const = default;
};

struct RatingsUploadResult {
    enum class Kind { accepted, credentialRejected, permanentRejected, transient, unavailable };
    Kind kind = Kind::transient;
    std::string baselineSnapshot; // accepted
    int64_t status = 0;           // credentialRejected, permanentRejected
    std::string message;          // transient

    static RatingsUploadResult accepted(std::string snapshot) {
        return {Kind::accepted, std::move(snapshot), 0, {}};
    }
    static RatingsUploadResult credentialRejected(int64_t s) {
        return {Kind::credentialRejected, {}, s, {}};
    }
    static RatingsUploadResult permanentRejected(int64_t s) {
        return {Kind::permanentRejected, {}, s, {}};
    }
    static RatingsUploadResult transient(std::string m) {
        return {Kind::transient, {}, 0, std::move(m)};
    }
    static RatingsUploadResult unavailable() { return {Kind::unavailable, {}, 0, {}}; }
    bool operator==(const RatingsUploadResult&) const = default;
};

using RatingsAvailabilityAnswer = std::variant<RatingsAvailability, RatingsAvailabilityError>;

// Both completions run exactly once, on any thread.
class RatingsTransport {
  public:
    virtual ~RatingsTransport() = default;
    virtual void availability(const UploadCredential& credential,
                              std::function<void(RatingsAvailabilityAnswer)> completion) = 0;
    virtual void post(const RatingsPayload& payload, const UploadCredential& credential,
                      std::function<void(RatingsUploadResult)> completion) = 0;
};

} // namespace qb
