#include "core/ratings/RatingState.hpp"

#include <algorithm>

namespace qb {

RatingState RatingState::fromTrack(const LibraryTrack& track) {
    RatingState state;
    state.rating = track.rating;
    state.computed = track.ratingComputed;
    state.favourite = track.favourite;
    state.playCount = std::max<int64_t>(track.playCount, 0);
    return state;
}

int64_t RatingState::userRating() const {
    return computed || rating < 0 ? 0 : rating;
}

bool RatingState::sameEvidence(const RatingState& other) const {
    return userRating() == other.userRating() && favourite == other.favourite;
}

void RatingState::write(JsonWriter& out) const {
    out.beginObject();
    out.member("computed", computed);
    out.member("favourite", favourite);
    if (playCount) out.member("playCount", *playCount);
    out.member("rating", rating);
    out.endObject();
}

RatingState RatingState::read(const JsonTape::Value& j) {
    j.requireObject("rating state");
    RatingState s;
    s.rating = j.requireInt("rating");
    s.computed = j.requireBool("computed");
    s.favourite = j.requireBool("favourite");
    s.playCount = j.optionalInt("playCount");
    return s;
}

} // namespace qb
