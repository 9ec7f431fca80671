#include "core/capture/PassCommit.hpp"

#include "core/common/CaptureError.hpp"
#include "core/common/FileIO.hpp"

#include <string>
#include <vector>

namespace qb::PassCommit {

namespace {
constexpr const char* runtimeFileName = "capture-runtime.json";

bool isStaged(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    const std::string suffix = stagedSuffix;
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::filesystem::path target(const std::filesystem::path& stagedFile) {
    std::string name = stagedFile.string();
    name.resize(name.size() - std::string(stagedSuffix).size());
    return name;
}
} // namespace

std::filesystem::path staged(const std::filesystem::path& file) {
    return file.string() + stagedSuffix;
}

void settle(const std::filesystem::path& directory) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        if (isStaged(entry.path())) files.push_back(entry.path());
    if (files.empty()) return;
    const std::filesystem::path runtime = staged(directory / runtimeFileName);
    try {
        if (!fileio::exists(runtime)) {
            for (const auto& file : files)
                fileio::removeIfExists(file);
            return;
        }
        for (const auto& file : files)
            if (file != runtime) fileio::moveOver(file, target(file));
        fileio::moveOver(runtime, target(runtime));
    } catch (const FileError& failure) {
        throw CaptureError::stateWriteFailed(std::string("unfinished capture pass: ") +
                                             failure.what());
    }
}

} // namespace qb::PassCommit
