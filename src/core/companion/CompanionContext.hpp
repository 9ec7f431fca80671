#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

// The user's personal ranks for a track, its artist and its album, as the service knows them.
struct CompanionPersonalContext {
    std::optional<int64_t> trackRank;
    std::optional<int64_t> artistRank;
    std::optional<int64_t> albumRank;

    bool isEmpty() const { return !trackRank && !artistRank && !albumRank; }
    bool operator==(const CompanionPersonalContext&) const = default;
};

// Context for the track the service names (not necessarily the one asked about).
struct CompanionContext {
    std::string artist;
    std::string track;
    CompanionPersonalContext personalContext;

    bool operator==(const CompanionContext&) const = default;
};

// The service confirmed that a play reached the archive; discoveredAt is this client's clock.
struct CompanionCaptureReceipt {
    std::string artist;
    std::string track;
    int64_t canonicalUts = 0;
    int64_t discoveredAt = 0;

    bool operator==(const CompanionCaptureReceipt&) const = default;
};

} // namespace qb
