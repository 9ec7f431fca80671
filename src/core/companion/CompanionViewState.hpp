#pragma once

#include "core/companion/CompanionContext.hpp"
#include "core/player/MusicPlayerInfoSample.hpp"
#include "core/service/CaptureDisplayState.hpp"
#include "core/service/CaptureServiceStatus.hpp"

#include <optional>
#include <string>
#include <variant>

namespace qb {

// Everything the popover draws, rebuilt whole from what the shell knows.
struct CompanionViewState {
    struct NowPlaying {
        std::string artist;
        std::string track;
        std::string album; // may be empty
        bool paused = false;

        bool operator==(const NowPlaying&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct SignedOut {
        bool operator==(const SignedOut&) const = default;
    };
    // playing, idle or signedOut.
    using Hero = std::variant<NowPlaying, Idle, SignedOut>;

    // How long after its discovery a receipt is shown.
    static constexpr double receiptVisibleWindowSeconds = 180.0;

    Hero hero = SignedOut{};
    // Ranks for the track in hero; only when they belong to it.
    std::optional<CompanionPersonalContext> personalContext;
    std::optional<CompanionCaptureReceipt> receipt;
    CaptureDisplayState captureHealth = CaptureDisplayState::signInRequired();
    bool capturePaused = false;
    std::string accountEmail;

    bool operator==(const CompanionViewState&) const = default;

    static CompanionViewState disconnected();
    // `now` is seconds since 1970 with fraction.
    static CompanionViewState
    build(const CaptureServiceStatus& status, const std::optional<MusicPlayerInfoSample>& sample,
          const std::string& accountEmail, const std::optional<CompanionContext>& context,
          const std::optional<CompanionCaptureReceipt>& receipt, double now);
};

} // namespace qb
