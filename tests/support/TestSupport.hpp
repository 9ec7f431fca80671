#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qb::test {

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// A JSON library fixture of songs whose play counts a test raises between scans; title
// ("Song <id>"), artist, album and length follow from the persistent ID.
struct PlayCountLibrary {
    std::map<uint64_t, int64_t> plays; // persistent ID → play count

    void write(const std::filesystem::path& file) const;
};

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program with arguments and extra environment (name → value; an empty
// optional unsets the variable), capturing both output streams.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::optional<std::string>>& environment = {});

// Whether the suite runs in CI (CI=true), which installs everything a test needs: there a
// missing program, daemon or data file is a failure, not a skip that hides breakage.
bool inCI();

// The built quillabrenta executable, and the shared test data directory (../shared).
std::string executablePath();
std::filesystem::path sourceDir();
std::filesystem::path sharedDir();

} // namespace qb::test

// Something a test needs is missing: it skips, naming it, or fails in CI.
#define QB_SKIP_OR_FAIL(what)                                                                      \
    do {                                                                                           \
        if (::qb::test::inCI()) {                                                                  \
            GTEST_FAIL() << what;                                                                  \
        }                                                                                          \
        GTEST_SKIP() << what;                                                                      \
    } while (false)
