#pragma once

#include "core/capture/CaptureBaselineStore.hpp"
#include "core/capture/CaptureRuntimeStore.hpp"
#include "core/capture/CaptureWorkerResult.hpp"
#include "core/library/MusicLibraryScanning.hpp"
#include "core/player/NonLibrarySessionStore.hpp"
#include "core/ratings/RatingsSyncStore.hpp"

namespace qb {

// One capture pass: scan, reconcile, classify player sessions, queue, persist, record ratings.
class CaptureScanWorker {
  public:
    static constexpr const char* baselineRecoveredText =
        "baseline_recovered_after_unreadable_state";

    CaptureScanWorker(MusicLibraryScanning& scanner, CaptureBaselineStore baselineStore,
                      CaptureRuntimeStore runtimeStore);

    // Never throws: every failure is reported in the result and, where possible, in lastError.
    CaptureWorkerResult run(const std::string& trigger, int64_t observedAt);
    void recordRatings(const LibraryScan& scan, const std::string& installID, int64_t observedAt);

  private:
    CaptureWorkerResult pass(const std::string& trigger, int64_t observedAt);
    CaptureWorkerResult fail(const std::string& message);
    std::filesystem::path directory() const { return runtimeStore_.fileURL().parent_path(); }

    MusicLibraryScanning& scanner_;
    CaptureBaselineStore baselineStore_;
    CaptureRuntimeStore runtimeStore_;
    NonLibrarySessionStore nonLibraryStore_;
    RatingsSyncStore ratingsStore_;
};

} // namespace qb
