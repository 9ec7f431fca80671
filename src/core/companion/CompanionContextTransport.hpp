#pragma once

#include "core/account/UploadCredential.hpp"
#include "core/common/JsonFields.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qb {

// Performs the companion-context GET. The completion runs exactly once, on any thread, with
// the body when it is a JSON object and the HTTP status (0 without an HTTP answer).
class CompanionContextTransport {
  public:
    using Completion = std::function<void(std::optional<Json> body, int64_t status)>;

    virtual ~CompanionContextTransport() = default;
    virtual void get(const std::string& url, const UploadCredential& credential,
                     Completion completion) = 0;
};

} // namespace qb
