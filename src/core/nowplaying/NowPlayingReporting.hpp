#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

// Where the now-playing observer sends what plays and when it stopped.
class NowPlayingReporting {
  public:
    virtual ~NowPlayingReporting() = default;

    // at: whole seconds since 1970. Returns true when a request went out.
    virtual bool send(const std::string& artist, const std::string& track, const std::string& album,
                      bool playing, std::optional<int64_t> durationMs,
                      const std::string& libraryPersistentID, const std::string& installID,
                      const std::string& deviceLabel, int64_t at) = 0;
    virtual void sendStopped(const std::string& reason, const std::string& installID,
                             int64_t at) = 0;
};

} // namespace qb
