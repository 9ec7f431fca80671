#include "core/capture/CaptureRuntimeStore.hpp"

#include "core/capture/PassCommit.hpp"
#include "core/common/CaptureError.hpp"
#include "core/common/FileIO.hpp"
#include "core/common/Uuid.hpp"

namespace qb {

CaptureRuntimeStore::CaptureRuntimeStore(const std::filesystem::path& directory)
    : fileURL_(directory / "capture-runtime.json") {
    fileio::createDirectoriesQuietly(directory);
}

CaptureRuntimeState CaptureRuntimeStore::load() const {
    if (!fileio::exists(fileURL_)) return CaptureRuntimeState::fresh(makeUuidV4());
    CaptureRuntimeState state;
    try {
        state = CaptureRuntimeState::fromJson(json::parse(fileio::readWholeFile(fileURL_)));
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateUnreadable(std::string("runtime: ") + e.what());
    }
    if (state.schemaVersion != captureStateSchemaVersion || state.installID.empty())
        throw CaptureError::stateUnreadable("unsupported runtime schema");
    return state;
}

void CaptureRuntimeStore::save(const CaptureRuntimeState& state) const {
    write(fileURL_, state);
}

void CaptureRuntimeStore::stage(const CaptureRuntimeState& state) const {
    write(PassCommit::staged(fileURL_), state);
}

void CaptureRuntimeStore::write(const std::filesystem::path& file,
                                const CaptureRuntimeState& state) const {
    try {
        fileio::writeAtomically(file, json::dump(state.toJson()));
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateWriteFailed(std::string("runtime: ") + e.what());
    }
}

bool CaptureRuntimeStore::exists() const {
    return fileio::exists(fileURL_);
}

void CaptureRuntimeStore::reset() const {
    fileio::removeIfExists(PassCommit::staged(fileURL_));
    fileio::removeIfExists(fileURL_);
}

} // namespace qb
