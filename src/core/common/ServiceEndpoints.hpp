#pragma once

#include <string>

namespace qb::endpoints {

// Paths are appended as text to a base URL (an origin without a trailing slash).
inline constexpr const char* reconcilePath = "/api/native/capture/reconcile";
inline constexpr const char* ratingsPath = "/api/native/capture/ratings";
inline constexpr const char* nowPlayingPath = "/api/native/now-playing";
inline constexpr const char* companionContextPath = "/api/native/capture/mac/companion-context";
inline constexpr const char* exchangePath = "/api/native/capture/mac/exchange";
inline constexpr const char* identityPath = "/api/native/capture/mac/identity";
inline constexpr const char* disconnectPath = "/api/native/capture/mac/disconnect";

// Pages opened in the browser on the production base URL.
inline constexpr const char* connectPagePath = "/native/mac-capture/connect";
inline constexpr const char* livePagePath = "/live";

// The service's origin compiled into the product.
inline constexpr const char* compiledProductionBaseURL = "https://quillabrenta.io";
// Environment variable that replaces the compiled origin (tests, staging).
inline constexpr const char* baseURLEnvironmentVariable = "QUILLABRENTA_BASE_URL";

// The production base URL in effect: the environment override when set and non-empty,
// otherwise the compiled origin. Pairing accepts callbacks for this origin only.
std::string effectiveBaseURL();

} // namespace qb::endpoints
