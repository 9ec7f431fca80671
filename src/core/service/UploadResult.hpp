#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace qb {

// The outcome of one reconcile upload, as the drain acts on it.
struct UploadResult {
    enum class Kind { credentialRejected, permanentRejected, transient, accepted };

    Kind kind = Kind::accepted;
    // The HTTP status of credentialRejected and permanentRejected; 0 otherwise.
    int64_t status = 0;
    // The reason of transient; empty otherwise.
    std::string message;

    static UploadResult credentialRejected(int64_t status) {
        return {Kind::credentialRejected, status, {}};
    }
    static UploadResult permanentRejected(int64_t status) {
        return {Kind::permanentRejected, status, {}};
    }
    static UploadResult transient(std::string message) {
        return {Kind::transient, 0, std::move(message)};
    }
    static UploadResult accepted() { return {Kind::accepted, 0, {}}; }

    bool operator==(const UploadResult&) const = default;

    // For messages and test output, e.g. "transient(http_500)" or "credentialRejected(401)".
    std::string describe() const {
        switch (kind) {
        case Kind::credentialRejected:
            return "credentialRejected(" + std::to_string(status) + ")";
        case Kind::permanentRejected:
            return "permanentRejected(" + std::to_string(status) + ")";
        case Kind::transient:
            return "transient(" + message + ")";
        case Kind::accepted:
            break;
        }
        return "accepted";
    }
    friend std::ostream& operator<<(std::ostream& out, const UploadResult& result) {
        return out << result.describe();
    }
};

} // namespace qb
