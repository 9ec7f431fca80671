#pragma once

#include "core/service/CaptureServiceStatus.hpp"

#include <QLocale>

#include <string>

namespace qb::app {

// What the diagnostics text says beyond the status.
struct DiagnosticsFacts {
    std::string appVersion;    // "unknown" when missing
    std::string appBuild;      // "unknown" when missing
    std::string systemName;    // "Linux"
    std::string systemVersion; // the distribution and the kernel
    bool launchAtLogin = false;
    std::string library; // which music library is read; empty leaves the line out
};

// The support text "Copy diagnostics" puts on the clipboard: lines joined by a line feed,
// none at the end. Holds no secret: the install ID is the only identifier.
std::string diagnosticsText(const CaptureServiceStatus& status, const DiagnosticsFacts& facts,
                            const QLocale& locale = QLocale());

} // namespace qb::app
