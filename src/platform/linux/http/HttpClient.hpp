#pragma once

#include "core/common/HttpSending.hpp"

#include <cstddef>
#include <memory>
#include <string>

namespace qb {

// HTTPS client on libcurl. One network thread drives every transfer through a multi handle;
// requests may be queued from any thread and their completions run on the network thread.
// TLS peer and host verification are always on, only http and https are allowed, redirects are
// never followed (a 3xx answer is handed back as it is), and response bodies are size-limited.
class HttpClient final : public HttpSending {
  public:
    struct Options {
        // PEM file of certificate authorities trusted in addition to the system ones (tests).
        std::string extraCAFile;
        // Larger answers fail as transport errors (status 0).
        size_t maxResponseBytes = 8 * 1024 * 1024;

        // extraCAFile from QUILLABRENTA_CA_FILE.
        static Options fromEnvironment();
    };

    // Configured from the environment.
    HttpClient();
    explicit HttpClient(Options options);
    // Completes every outstanding request with status 0 and the error "cancelled", then stops
    // the network thread. Must not run on the network thread itself (from a completion).
    ~HttpClient() override;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override;

    // The process-wide client, configured from the environment on first use. It is never
    // destroyed, so completions cannot run into objects torn down at exit.
    static HttpClient& shared();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace qb
