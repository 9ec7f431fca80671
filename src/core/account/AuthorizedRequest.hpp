#pragma once

#include "core/account/UploadCredential.hpp"
#include "core/common/HttpSending.hpp"
#include "core/common/JsonFields.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace qb {

// A bodiless request to one service endpoint carrying the bearer token, or nothing when the
// credential cannot address the service (empty token, base URL not https, joined text not a
// URL); callers then fail locally without traffic. The path is appended to the base URL as text.
std::optional<HttpRequest> authorizedRequest(const UploadCredential& credential,
                                             std::string_view path, std::string method,
                                             double timeoutSeconds);

// An answer body that is a JSON object; absent for an empty body, malformed JSON (including
// invalid UTF-8 and out-of-range numbers) and every other JSON value.
std::optional<Json> jsonObjectBody(const std::string& body);

} // namespace qb
