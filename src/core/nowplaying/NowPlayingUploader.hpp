#pragma once

#include "core/common/Clock.hpp"
#include "core/nowplaying/NowPlayingReporting.hpp"
#include "core/nowplaying/NowPlayingTransport.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qb {

// Reports what plays to the service: a report goes out when the item or its state changed or
// when the heartbeat interval has passed; a stop only after a play report. Called on the main
// thread; answers are handled on the transport's thread.
class NowPlayingUploader : public NowPlayingReporting,
                           public std::enable_shared_from_this<NowPlayingUploader> {
  public:
    using CredentialProvider = std::function<std::optional<UploadCredential>()>;
    using BudgetCallback = std::function<void(const Json& budget)>;
    using CredentialRejectedCallback = std::function<void()>;
    using AcceptedCallback =
        std::function<void(const std::string& artist, const std::string& track)>;

    static constexpr double defaultHeartbeatSeconds = 20.0;
    static constexpr double minimumHeartbeatSeconds = 5.0;
    static constexpr double maximumHeartbeatSeconds = 600.0;
    static constexpr const char* source = "native_apple";

    // Answers hold the uploader weakly, so it only exists behind a shared pointer.
    static std::shared_ptr<NowPlayingUploader> create(NowPlayingTransport& transport,
                                                      CredentialProvider credentialProvider,
                                                      WallClock clock = systemWallTime);

    bool send(const std::string& artist, const std::string& track, const std::string& album,
              bool playing, std::optional<int64_t> durationMs,
              const std::string& libraryPersistentID, const std::string& installID,
              const std::string& deviceLabel, int64_t at) override;
    void sendStopped(const std::string& reason, const std::string& installID, int64_t at) override;
    // Forgets the last report so that the next one goes out at once.
    void noteCredentialChanged();

    double heartbeatSeconds() const;

    // The callbacks run on the transport's thread.
    void setOnBudget(BudgetCallback callback);
    void setOnCredentialRejected(CredentialRejectedCallback callback);
    void setOnAccepted(AcceptedCallback callback);

    // State, artist, track and album joined with U+0001.
    static std::string signature(bool playing, const std::string& artist, const std::string& track,
                                 const std::string& album);

  private:
    NowPlayingUploader(NowPlayingTransport& transport, CredentialProvider credentialProvider,
                       WallClock clock);

    void post(Json body, const UploadCredential& credential);
    void handleAnswer(const Json& body, const std::optional<Json>& answer, int64_t status);

    NowPlayingTransport& transport_;
    CredentialProvider credentialProvider_;
    WallClock clock_;

    mutable std::mutex lock_;
    double heartbeatSeconds_ = defaultHeartbeatSeconds;
    std::string lastSignature_;
    std::optional<double> lastSentAt_;
    BudgetCallback onBudget_;
    CredentialRejectedCallback onCredentialRejected_;
    AcceptedCallback onAccepted_;
};

} // namespace qb
