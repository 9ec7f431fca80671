#pragma once

#include "core/capture/CaptureWorkerResult.hpp"

#include <string>

namespace qb {

// Runs one capture pass for a trigger and blocks until it is over. Every outcome, failures
// included, comes back as a result value.
class CaptureWorkerRunning {
  public:
    virtual ~CaptureWorkerRunning() = default;
    virtual CaptureWorkerResult run(const std::string& trigger) = 0;
};

} // namespace qb
