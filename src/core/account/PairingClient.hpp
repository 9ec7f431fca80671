#pragma once

#include "core/account/PairingError.hpp"
#include "core/account/UploadCredential.hpp"
#include "core/common/Clock.hpp"
#include "core/common/HttpSending.hpp"

#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace qb {

// Connects this installation to a service account through the browser: builds the connect
// URL, validates the callback, exchanges its code for a credential; also asks for the
// account's e-mail and tells the service when the Mac disconnects. Holds no mutable state.
class PairingClient {
  public:
    using ExchangeResult = std::variant<UploadCredential, PairingError>;
    using ExchangeCompletion = std::function<void(ExchangeResult)>;
    using IdentityCompletion = std::function<void(std::optional<std::string>)>;

    static constexpr const char* callbackScheme = "quillabrenta-capture";
    static constexpr const char* callbackHost = "auth";
    static constexpr double exchangeTimeoutSeconds = 20;
    static constexpr double identityTimeoutSeconds = 8;
    static constexpr double disconnectTimeoutSeconds = 8;

    // What a valid callback carries.
    struct Callback {
        std::string code;
        std::string baseURL;

        bool operator==(const Callback&) const = default;
    };

    PairingClient(HttpSending& http, std::string productionBaseURL,
                  WallClock clock = systemWallTime)
        : http_(http), productionBaseURL_(std::move(productionBaseURL)), clock_(std::move(clock)) {}

    const std::string& productionBaseURL() const { return productionBaseURL_; }

    // The connect page with this installation's ID; absent when no URL can be formed.
    std::optional<std::string> connectURL(const std::string& installID) const;

    // Completes exactly once: synchronously for a rejected callback, otherwise on the HTTP
    // client's thread.
    void exchange(const std::string& callbackURL, const std::string& installID,
                  ExchangeCompletion completion) const;

    // The account's e-mail address, or absent. Without a usable credential nothing is sent
    // and the completion is not called.
    void fetchIdentity(const UploadCredential& credential, IdentityCompletion completion) const;

    // Tells the service this Mac is leaving; the answer is ignored.
    void disconnect(const UploadCredential& credential) const;

    // The callback's code and base URL when the URL is ours and names the production origin.
    static std::optional<Callback> parseCallback(const std::string& callbackURL,
                                                 const std::string& productionBaseURL);
    static ExchangeResult exchangeResult(const HttpResponse& response,
                                         const std::string& productionBaseURL, double now);
    static std::optional<std::string> identityResult(const HttpResponse& response);

  private:
    HttpSending& http_;
    std::string productionBaseURL_;
    WallClock clock_;
};

} // namespace qb
