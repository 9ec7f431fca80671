#include "core/common/ServiceEndpoints.hpp"

#include <cstdlib>

namespace qb::endpoints {

std::string effectiveBaseURL() {
    const char* override = std::getenv(baseURLEnvironmentVariable);
    if (override && *override) return override;
    return compiledProductionBaseURL;
}

} // namespace qb::endpoints
