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

RatingState RatingState::read(jsonread::Value json) {
    using namespace jsonread;
    static constexpr const char* required[] = {"rating", "computed", "favourite"};
    RequiredKeys keys(required);
    RatingState s;
    forEachMember(asObject(json, "rating state"), [&](std::string_view key, Value v) {
        if (key == "rating")
            s.rating = asInt(v, key), keys.seen(0);
        else if (key == "computed")
            s.computed = asBool(v, key), keys.seen(1);
        else if (key == "favourite")
            s.favourite = asBool(v, key), keys.seen(2);
        else if (key == "playCount")
            s.playCount = optionalInt(v, key);
    });
    keys.check();
    return s;
}

} // namespace qb
