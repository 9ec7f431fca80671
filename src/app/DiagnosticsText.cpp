#include "app/DiagnosticsText.hpp"

#include "app/DisplayFormat.hpp"

namespace qb::app {

std::string diagnosticsText(const CaptureServiceStatus& status, const DiagnosticsFacts& facts,
                            const QLocale& locale) {
    auto orUnknown = [](const std::string& s) { return s.empty() ? std::string("unknown") : s; };
    std::string text = "Quillabrenta for Mac diagnostics";
    text +=
        "\nApp version: " + orUnknown(facts.appVersion) + " (" + orUnknown(facts.appBuild) + ")";
    text += "\n" + facts.systemName + ": " + facts.systemVersion;
    text += "\nInstall ID: " + status.installID;
    text += std::string("\nPaired: ") + (status.connected ? "yes" : "no");
    text += std::string("\nLaunch at login: ") + (facts.launchAtLogin ? "on" : "off");
    text += "\nLast scan: " + DisplayFormat::time(status.lastScanAt, locale);
    text += "\nLast upload: " + DisplayFormat::time(status.lastUploadAt, locale);
    text += "\nPending: " + std::to_string(status.pending);
    if (!facts.library.empty()) text += "\nLibrary: " + facts.library;
    if (!status.lastError.empty()) text += "\nLast error: " + status.lastError;
    return text;
}

} // namespace qb::app
