#pragma once

#include "core/service/CaptureWorkerRunning.hpp"

#include <chrono>
#include <filesystem>

namespace qb {

// Runs each capture pass in a fresh worker-mode process of the given executable, so the
// library's memory leaves with that process.
class SubprocessCaptureWorker : public CaptureWorkerRunning {
  public:
    // A scan of 100,000 songs takes seconds; a worker still running after the time-out is
    // stuck (a hung disk, a library on a dead network share) and is killed, so the service's
    // queue, which waits for it, moves again.
    static constexpr std::chrono::seconds defaultTimeout{600};

    SubprocessCaptureWorker(std::filesystem::path executable, std::filesystem::path stateDirectory,
                            std::chrono::seconds timeout = defaultTimeout);

    const std::filesystem::path& executable() const { return executable_; }
    const std::filesystem::path& stateDirectory() const { return stateDirectory_; }

    // Starts "<executable> --run-capture-worker --state-directory DIR --trigger TRIGGER" with
    // standard input and environment inherited and waits for it. Exit status 0 with a
    // decodable result gives that result unchanged; anything else gives ok false with the
    // trimmed standard error, or "capture_worker_failed" when that is empty or not UTF-8.
    CaptureWorkerResult run(const std::string& trigger) override;

  private:
    std::filesystem::path executable_;
    std::filesystem::path stateDirectory_;
    std::chrono::seconds timeout_;
};

} // namespace qb
