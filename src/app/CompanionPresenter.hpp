#pragma once

#include "core/companion/CompanionViewState.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qb::app {

// The popover's texts and choices for one view state; the widget only draws them.
struct CompanionPresentation {
    enum class ChipColour { cyan, magenta, dimWhite };
    enum class Hero { playing, idle, signedOut };
    struct Rank {
        std::string label; // "TRACK", "ARTIST", "ALBUM"
        std::string value; // "#12"
        bool operator==(const Rank&) const = default;
    };

    std::string chipLabel;
    ChipColour chipColour = ChipColour::magenta;
    Hero hero = Hero::signedOut;
    std::string title;       // playing: the track
    std::string subtitle;    // playing: the artist, and " · " and the album when there is one
    bool paused = false;     // playing: the "Paused" line
    std::vector<Rank> ranks; // empty: no ranks row
    std::optional<std::string> receipt; // the receipt line, when there is one
    std::string accountEmail;           // empty: none shown

    bool operator==(const CompanionPresentation&) const = default;
};

namespace CompanionPresenter {
CompanionPresentation present(const CompanionViewState& state);
} // namespace CompanionPresenter

} // namespace qb::app
