#pragma once

#include "core/common/HttpSending.hpp"
#include "core/companion/CompanionContextTransport.hpp"

namespace qb {

// The companion-context GET over the shared HTTP client, with the bearer token.
class HttpCompanionContextTransport : public CompanionContextTransport {
  public:
    HttpCompanionContextTransport(HttpSending& http, double timeoutSeconds)
        : http_(http), timeoutSeconds_(timeoutSeconds) {}

    void get(const std::string& url, const UploadCredential& credential,
             Completion completion) override;

  private:
    HttpSending& http_;
    double timeoutSeconds_;
};

} // namespace qb
