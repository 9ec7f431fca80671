// Every state file's decoder, on the same bytes: the runtime state, the baseline (fast path and
// general decoder), the session journal and the ratings file.
#include "FuzzInput.hpp"
#include "core/capture/CaptureBaseline.hpp"
#include "core/capture/CaptureBaselineCodec.hpp"
#include "core/capture/CaptureRuntimeState.hpp"
#include "core/player/NonLibrarySessionJournal.hpp"
#include "core/ratings/RatingsSyncState.hpp"

namespace {
template <typename F> void attempt(F&& decode) {
    try {
        decode();
    } catch (const std::exception&) {
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = qb::fuzz::text(data, size);
    attempt([&] { (void)qb::CaptureRuntimeState::fromJson(qb::json::parse(text)); });
    attempt([&] { (void)qb::CaptureBaselineCodec::decode(text); });
    attempt([&] { (void)qb::NonLibrarySessionJournal::fromJson(qb::json::parse(text)); });
    attempt([&] { (void)qb::RatingsSyncState::decode(text); });
    // What decodes must encode again without loss.
    attempt([&] {
        const qb::CaptureBaseline baseline = qb::CaptureBaselineCodec::decode(text);
        if (qb::CaptureBaselineCodec::decode(qb::CaptureBaselineCodec::encode(baseline)) != baseline)
            __builtin_trap();
    });
    attempt([&] {
        const qb::RatingsSyncState ratings = qb::RatingsSyncState::decode(text);
        if (qb::RatingsSyncState::decode(ratings.encode()) != ratings) __builtin_trap();
    });
    return 0;
}
