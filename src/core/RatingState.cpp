#include "core/RatingState.hpp"

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

Json RatingState::toJson() const {
    Json j = {{"rating", rating}, {"computed", computed}, {"favourite", favourite}};
    json::putOptional(j, "playCount", playCount);
    return j;
}

RatingState RatingState::fromJson(const Json& j) {
    json::requireObject(j, "rating state");
    RatingState s;
    s.rating = json::requireInt(j, "rating");
    s.computed = json::requireBool(j, "computed");
    s.favourite = json::requireBool(j, "favourite");
    s.playCount = json::optionalInt(j, "playCount");
    return s;
}

} // namespace qb
