#include "core/ratings/RatingsSyncStore.hpp"

#include "core/common/CaptureError.hpp"
#include "core/common/FileIO.hpp"

namespace qb {

RatingsSyncStore::RatingsSyncStore(const std::filesystem::path& directory)
    : fileURL_(directory / "ratings-sync.json") {
    fileio::createDirectoriesQuietly(directory);
}

bool RatingsSyncStore::exists() const {
    return fileio::exists(fileURL_);
}

RatingsSyncState RatingsSyncStore::load() const {
    if (!exists()) return RatingsSyncState::fresh();
    RatingsSyncState state;
    try {
        state = RatingsSyncState::decode(fileio::readWholeFile(fileURL_));
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateUnreadable(std::string("ratings: ") + e.what());
    }
    if (state.schemaVersion != ratingsSyncSchemaVersion)
        throw CaptureError::stateUnreadable("unsupported ratings schema");
    return state;
}

void RatingsSyncStore::save(const RatingsSyncState& state) const {
    try {
        fileio::writeAtomically(fileURL_, state.encode());
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateWriteFailed(std::string("ratings: ") + e.what());
    }
}

void RatingsSyncStore::createIfMissing() const {
    if (!exists()) save(RatingsSyncState::fresh());
}

void RatingsSyncStore::reset() const {
    fileio::removeIfExists(fileURL_);
}

} // namespace qb
