#include "core/companion/CompanionViewState.hpp"

namespace qb {

CompanionViewState CompanionViewState::disconnected() {
    return CompanionViewState{
        SignedOut{}, std::nullopt, std::nullopt, CaptureDisplayState::signInRequired(), false, ""};
}

CompanionViewState CompanionViewState::build(const CaptureServiceStatus& status,
                                             const std::optional<MusicPlayerInfoSample>& sample,
                                             const std::string& accountEmail,
                                             const std::optional<CompanionContext>& context,
                                             const std::optional<CompanionCaptureReceipt>& receipt,
                                             double now) {
    if (!status.connected) return disconnected();

    CompanionViewState state;
    bool playing = sample && !sample->artist.empty() && !sample->track.empty();
    if (playing)
        state.hero = NowPlaying{sample->artist, sample->track, sample->album, !sample->playing};
    else
        state.hero = Idle{};

    if (playing && context && context->artist == sample->artist && context->track == sample->track)
        state.personalContext = context->personalContext;

    if (receipt) {
        // A receipt discovered ahead of now stays hidden until now catches up.
        double age = now - static_cast<double>(receipt->discoveredAt);
        if (age >= 0 && age <= receiptVisibleWindowSeconds) state.receipt = receipt;
    }

    state.captureHealth = CaptureDisplayState::from(status);
    state.capturePaused = status.paused;
    state.accountEmail = accountEmail;
    return state;
}

} // namespace qb
