#include "core/worker/CaptureScanWorker.hpp"

#include "core/capture/LibraryReconciler.hpp"
#include "core/capture/PassCommit.hpp"
#include "core/capture/QueuePolicy.hpp"
#include "core/common/CaptureError.hpp"
#include "core/player/NonLibrarySessionClassifier.hpp"
#include "core/ratings/RatingsRecorder.hpp"

namespace qb {

CaptureScanWorker::CaptureScanWorker(MusicLibraryScanning& scanner,
                                     CaptureBaselineStore baselineStore,
                                     CaptureRuntimeStore runtimeStore)
    : scanner_(scanner), baselineStore_(std::move(baselineStore)),
      runtimeStore_(std::move(runtimeStore)),
      nonLibraryStore_(runtimeStore_.fileURL().parent_path()),
      ratingsStore_(runtimeStore_.fileURL().parent_path()) {}

CaptureWorkerResult CaptureScanWorker::run(const std::string& trigger, int64_t observedAt) {
    try {
        return pass(trigger, observedAt);
    } catch (const CaptureError& error) {
        return fail(error.description());
    } catch (const std::exception& error) {
        return fail(error.what());
    }
}

CaptureWorkerResult CaptureScanWorker::pass(const std::string& trigger, int64_t observedAt) {
    PassCommit::settle(directory());
    const CaptureRuntimeState runtime = runtimeStore_.load();
    if (runtime.paused) return {true, "", std::nullopt};

    bool recovered = false;
    CaptureBaseline baseline;
    try {
        baseline = baselineStore_.load();
    } catch (const CaptureError&) {
        // Start a fresh forward-only baseline; the unreadable file is overwritten below.
        recovered = true;
        baseline = CaptureBaseline{};
    }

    CaptureState state;
    state.installID = runtime.installID;
    state.capturedAt = baseline.capturedAt;
    state.snapshot = std::move(baseline.snapshot);
    state.pending = runtime.pending;
    state.deadLetters = runtime.deadLetters;
    state.paused = runtime.paused;

    const LibraryScan scan = scanner_.scan();
    auto result = LibraryReconciler::reconcile(state, scan, observedAt, trigger);
    state.snapshot.clear();

    std::optional<NonLibrarySessionJournal> classifiedJournal;
    if (nonLibraryStore_.exists()) {
        std::optional<NonLibrarySessionJournal> journal;
        try {
            journal = nonLibraryStore_.load();
        } catch (const CaptureError&) {
            // An unreadable journal skips classification; it is never repaired here.
        }
        if (journal) {
            std::vector<CompletionDelta> deltas;
            for (const auto& payload : result.payloads)
                for (const auto& delta : payload.payload.completionLibrary.deltas)
                    deltas.push_back(delta);
            auto outcome = NonLibrarySessionClassifier::classify(*journal, scan.tracks, deltas,
                                                                 observedAt, runtime.installID);
            result.payloads.front() = result.payloads.front().attaching(outcome.observations);
            classifiedJournal = std::move(outcome.journal);
        }
    }

    const auto queue = QueuePolicy::append(result.payloads, runtime.pending);

    // The new queue, baseline and journal land together or not at all.
    CaptureBaseline advanced;
    advanced.capturedAt = result.capturedAt;
    advanced.snapshot = std::move(result.snapshot);
    baselineStore_.stage(advanced);
    if (classifiedJournal) {
        try {
            nonLibraryStore_.stage(*classifiedJournal);
        } catch (const CaptureError&) {
            // The sessions are classified again next pass with the same observation identifiers.
        }
    }
    CaptureRuntimeState queued = runtime;
    queued.pending = queue;
    runtimeStore_.stage(queued);
    PassCommit::settle(directory());

    recordRatings(scan, runtime.installID, observedAt);

    CaptureRuntimeState completed = runtime;
    completed.pending = queue;
    completed.lastSuccessfulScanAt = observedAt;
    completed.lastError = recovered ? baselineRecoveredText : "";
    completed.diagnostics = result.diagnostics;
    runtimeStore_.save(completed);

    return {true, completed.lastError, result.diagnostics};
}

void CaptureScanWorker::recordRatings(const LibraryScan& scan, const std::string& installID,
                                      int64_t observedAt) {
    qb::recordRatings(ratingsStore_, scan, installID, observedAt);
}

CaptureWorkerResult CaptureScanWorker::fail(const std::string& message) {
    try {
        CaptureRuntimeState state = runtimeStore_.load();
        state.lastError = message;
        runtimeStore_.save(state);
    } catch (const std::exception&) {
        // Nothing more can be recorded; the result still carries the message.
    }
    return {false, message, std::nullopt};
}

} // namespace qb
