#include "app/CompanionPresenter.hpp"

namespace qb::app::CompanionPresenter {

namespace {
using Kind = CaptureDisplayState::Kind;
using Colour = CompanionPresentation::ChipColour;

std::pair<std::string, Colour> chip(const CompanionViewState& state) {
    if (state.capturePaused) return {"Capture paused", Colour::dimWhite};
    switch (state.captureHealth.kind()) {
    case Kind::capturing:
    case Kind::waitingForListening:
        return {"Capturing", Colour::cyan};
    case Kind::offlineRetrying:
        return {"Offline — retrying", Colour::magenta};
    case Kind::signInRequired:
        return {"Sign-in required", Colour::magenta};
    case Kind::attentionNeeded:
        return {"Needs attention", Colour::magenta};
    }
    return {"Sign-in required", Colour::magenta};
}
} // namespace

CompanionPresentation present(const CompanionViewState& state) {
    CompanionPresentation p;
    std::tie(p.chipLabel, p.chipColour) = chip(state);
    if (const auto* playing = std::get_if<CompanionViewState::NowPlaying>(&state.hero)) {
        p.hero = CompanionPresentation::Hero::playing;
        p.title = playing->track;
        p.subtitle = playing->album.empty() ? playing->artist
                                            : playing->artist + " \u00B7 " + playing->album;
        p.paused = playing->paused;
    } else if (std::holds_alternative<CompanionViewState::Idle>(state.hero)) {
        p.hero = CompanionPresentation::Hero::idle;
    }
    if (state.personalContext && !state.personalContext->isEmpty()) {
        const auto add = [&](const char* label, const std::optional<int64_t>& rank) {
            if (rank) p.ranks.push_back({label, std::string("#").append(std::to_string(*rank))});
        };
        add("TRACK", state.personalContext->trackRank);
        add("ARTIST", state.personalContext->artistRank);
        add("ALBUM", state.personalContext->albumRank);
    }
    if (state.receipt) p.receipt = state.receipt->track + " \u2014 Added to your Archive";
    p.accountEmail = state.accountEmail;
    return p;
}

} // namespace qb::app::CompanionPresenter
