#include "core/capture/CaptureBaselineStore.hpp"

#include "core/capture/CaptureBaselineCodec.hpp"
#include "core/capture/PassCommit.hpp"
#include "core/common/CaptureError.hpp"
#include "core/common/FileIO.hpp"

namespace qb {

CaptureBaselineStore::CaptureBaselineStore(const std::filesystem::path& directory)
    : fileURL_(directory / "capture-baseline.json") {
    fileio::createDirectoriesQuietly(directory);
}

CaptureBaseline CaptureBaselineStore::load() const {
    if (!fileio::exists(fileURL_)) return CaptureBaseline{};
    CaptureBaseline baseline;
    try {
        baseline = CaptureBaselineCodec::decode(fileio::readWholeFile(fileURL_));
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateUnreadable(std::string("baseline: ") + e.what());
    }
    if (baseline.schemaVersion != captureStateSchemaVersion)
        throw CaptureError::stateUnreadable("unsupported baseline schema");
    return baseline;
}

void CaptureBaselineStore::save(const CaptureBaseline& baseline) const {
    write(fileURL_, baseline);
}

void CaptureBaselineStore::stage(const CaptureBaseline& baseline) const {
    write(PassCommit::staged(fileURL_), baseline);
}

void CaptureBaselineStore::write(const std::filesystem::path& file,
                                 const CaptureBaseline& baseline) const {
    try {
        fileio::writeAtomically(file, CaptureBaselineCodec::encode(baseline));
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateWriteFailed(std::string("baseline: ") + e.what());
    }
}

void CaptureBaselineStore::reset() const {
    fileio::removeIfExists(PassCommit::staged(fileURL_));
    fileio::removeIfExists(fileURL_);
}

} // namespace qb
