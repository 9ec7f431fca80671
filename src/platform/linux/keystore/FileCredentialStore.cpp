#include "platform/linux/keystore/FileCredentialStore.hpp"

#include "core/common/FileIO.hpp"
#include "platform/linux/desktop/XdgDirectories.hpp"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

FileCredentialStore::FileCredentialStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path FileCredentialStore::defaultDirectory() {
    return xdg::configHome() / "quillabrenta";
}

std::optional<UploadCredential> FileCredentialStore::load() const {
    try {
        return decodeStored(fileio::readWholeFile(file_));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool FileCredentialStore::save(const UploadCredential& credential) {
    std::optional<std::string> bytes = encodeForStorage(credential);
    if (!bytes) return false;
    clear();
    const std::filesystem::path directory = file_.parent_path();
    fileio::createDirectoriesQuietly(directory.parent_path());
    ::mkdir(directory.c_str(), 0700);
    // The directory may predate us with looser permissions; the token must not be listable.
    ::chmod(directory.c_str(), 0700);
    try {
        fileio::writeAtomically(file_, *bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void FileCredentialStore::clear() {
    try {
        fileio::removeIfExists(file_);
    } catch (const std::exception&) {
    }
}

namespace {
constexpr const char* clearedMarker = R"({"cleared":true})";
}

void FileCredentialStore::markCleared() {
    const std::filesystem::path directory = file_.parent_path();
    fileio::createDirectoriesQuietly(directory.parent_path());
    ::mkdir(directory.c_str(), 0700);
    try {
        fileio::writeAtomically(file_, clearedMarker);
    } catch (const std::exception&) {
        // Nothing more can be done; the keyring's item, if any, stays.
    }
}

bool FileCredentialStore::clearedMarkerPresent() const {
    try {
        return fileio::readWholeFile(file_) == clearedMarker;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace qb
