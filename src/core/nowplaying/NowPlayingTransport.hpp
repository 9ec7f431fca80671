#pragma once

#include "core/account/UploadCredential.hpp"
#include "core/common/JsonFields.hpp"

#include <cstdint>
#include <functional>
#include <optional>

namespace qb {

// Sends one now-playing report. The completion runs exactly once, on any thread, with the
// answer's JSON object (absent when the answer was no JSON object) and the HTTP status (0 when
// no HTTP answer arrived or nothing was sent).
class NowPlayingTransport {
  public:
    using Completion = std::function<void(std::optional<Json> answer, int64_t status)>;

    virtual ~NowPlayingTransport() = default;
    virtual void post(const Json& payload, const UploadCredential& credential,
                      Completion completion) = 0;
};

} // namespace qb
