#pragma once

#include "core/common/HttpSending.hpp"
#include "core/nowplaying/NowPlayingTransport.hpp"

namespace qb {

// The now-playing POST over the shared HTTP client, with the bearer token.
class HttpNowPlayingTransport : public NowPlayingTransport {
  public:
    static constexpr const char* path = "/api/native/now-playing";

    HttpNowPlayingTransport(HttpSending& http, double timeoutSeconds)
        : http_(http), timeoutSeconds_(timeoutSeconds) {}

    // Without a usable credential, a valid URL or a payload that encodes as a JSON object,
    // nothing is sent and the completion gets (absent, 0) at once.
    void post(const Json& payload, const UploadCredential& credential,
              Completion completion) override;

  private:
    HttpSending& http_;
    double timeoutSeconds_;
};

} // namespace qb
