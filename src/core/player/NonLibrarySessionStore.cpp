#include "core/player/NonLibrarySessionStore.hpp"

#include "core/capture/PassCommit.hpp"
#include "core/common/CaptureError.hpp"
#include "core/common/FileIO.hpp"
#include "core/player/NonLibraryCapture.hpp"

namespace qb {

namespace {
const char* const detailPrefix = "non-library journal: ";
}

NonLibrarySessionStore::NonLibrarySessionStore(const std::filesystem::path& directory)
    : fileURL_(directory / "nonlibrary-player-sessions.json") {}

bool NonLibrarySessionStore::exists() const {
    return fileio::exists(fileURL_);
}

NonLibrarySessionJournal NonLibrarySessionStore::load() const {
    NonLibrarySessionJournal journal;
    try {
        journal = NonLibrarySessionJournal::fromJson(json::parse(fileio::readWholeFile(fileURL_)));
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateUnreadable(detailPrefix + std::string(e.what()));
    }
    if (journal.schemaVersion != NonLibrarySessionJournal::currentSchemaVersion)
        throw CaptureError::stateUnreadable("unsupported non-library journal schema");
    return journal;
}

void NonLibrarySessionStore::save(const NonLibrarySessionJournal& journal) const {
    write(fileURL_, journal);
}

void NonLibrarySessionStore::stage(const NonLibrarySessionJournal& journal) const {
    write(PassCommit::staged(fileURL_), journal);
}

void NonLibrarySessionStore::write(const std::filesystem::path& file,
                                   const NonLibrarySessionJournal& journal) const {
    try {
        fileio::createDirectoriesQuietly(fileURL_.parent_path());
        fileio::writeAtomically(file, json::dump(journal.toJson()));
    } catch (const CaptureError&) {
        throw;
    } catch (const std::exception& e) {
        throw CaptureError::stateWriteFailed(detailPrefix + std::string(e.what()));
    }
}

void NonLibrarySessionStore::createIfMissing() const {
    if (!exists()) save(NonLibrarySessionJournal::empty());
}

void NonLibrarySessionStore::append(const PlayerSessionRecord& record) const {
    if (!exists()) return;
    NonLibrarySessionJournal journal = load();
    journal.sessions.push_back(record);
    const auto limit = static_cast<size_t>(NonLibraryCapture::maxJournaledSessions);
    if (journal.sessions.size() > limit) {
        const size_t excess = journal.sessions.size() - limit;
        journal.sessions.erase(journal.sessions.begin(),
                               journal.sessions.begin() + static_cast<std::ptrdiff_t>(excess));
        journal.count(NonLibrarySessionDisposition::journalOverflow, static_cast<int64_t>(excess));
    }
    save(journal);
}

void NonLibrarySessionStore::reset() const {
    fileio::removeIfExists(PassCommit::staged(fileURL_));
    fileio::removeIfExists(fileURL_);
}

} // namespace qb
