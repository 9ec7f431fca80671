#pragma once

#include "core/CompanionContextTransport.hpp"
#include "core/HttpSending.hpp"

namespace qb {

// The companion-context GET over the shared HTTP client, with the bearer token.
class HttpCompanionContextTransport : public CompanionContextTransport {
  public:
    HttpCompanionContextTransport(HttpSending& http, double timeoutSeconds)
        : http_(http), timeoutSeconds_(timeoutSeconds) {}

    void get(const std::string& url, const UploadCredential& credential,
             Completion completion) override;

    // The body as a JSON object, or absent when it is empty, malformed or another JSON value.
    static std::optional<Json> objectBody(const std::string& body);

  private:
    HttpSending& http_;
    double timeoutSeconds_;
};

} // namespace qb
