#include "core/nowplaying/NowPlayingUploader.hpp"

namespace qb {
namespace {

std::optional<UploadCredential> usable(std::optional<UploadCredential> credential) {
    if (credential && credential->isUsable()) return credential;
    return std::nullopt;
}

bool hasNonEmptyString(const Json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() && !it->get_ref<const std::string&>().empty();
}

} // namespace

std::shared_ptr<NowPlayingUploader>
NowPlayingUploader::create(NowPlayingTransport& transport, CredentialProvider credentialProvider,
                           WallClock clock) {
    return std::shared_ptr<NowPlayingUploader>(
        new NowPlayingUploader(transport, std::move(credentialProvider), std::move(clock)));
}

NowPlayingUploader::NowPlayingUploader(NowPlayingTransport& transport,
                                       CredentialProvider credentialProvider, WallClock clock)
    : transport_(transport), credentialProvider_(std::move(credentialProvider)),
      clock_(clock ? std::move(clock) : WallClock(systemWallTime)) {}

std::string NowPlayingUploader::signature(bool playing, const std::string& artist,
                                          const std::string& track, const std::string& album) {
    std::string text = playing ? "playing" : "paused";
    for (const std::string* part : {&artist, &track, &album}) {
        text += '\x01';
        text += *part;
    }
    return text;
}

bool NowPlayingUploader::send(const std::string& artist, const std::string& track,
                              const std::string& album, bool playing,
                              std::optional<int64_t> durationMs,
                              const std::string& libraryPersistentID, const std::string& installID,
                              const std::string& deviceLabel, int64_t at) {
    if (artist.empty() || track.empty()) return false;
    auto credential = usable(credentialProvider_ ? credentialProvider_() : std::nullopt);
    if (!credential) return false;
    std::string sig = signature(playing, artist, track, album);
    {
        std::lock_guard guard(lock_);
        const bool changed = sig != lastSignature_;
        const double now = clock_();
        // A clock set back behind the last report counts as due, so the heartbeat never stalls.
        if (lastSentAt_ && !changed && now >= *lastSentAt_ &&
            now - *lastSentAt_ < heartbeatSeconds_)
            return false;
        lastSignature_ = std::move(sig);
        lastSentAt_ = now;
    }
    Json body = {{"artist", artist},
                 {"track", track},
                 {"album", album},
                 {"playback_state", playing ? "playing" : "paused"},
                 {"duration_ms", durationMs ? Json(*durationMs) : Json(nullptr)},
                 {"library_persistent_id", libraryPersistentID},
                 {"install_id", installID},
                 {"device_label", deviceLabel},
                 {"source", source},
                 {"observed_at", at}};
    post(std::move(body), *credential);
    return true;
}

void NowPlayingUploader::sendStopped(const std::string& reason, const std::string& installID,
                                     int64_t at) {
    std::string previous;
    {
        std::lock_guard guard(lock_);
        previous = std::move(lastSignature_);
        lastSignature_.clear();
        lastSentAt_.reset();
    }
    if (previous.empty()) return;
    auto credential = usable(credentialProvider_ ? credentialProvider_() : std::nullopt);
    if (!credential) return;
    post({{"playback_state", "stopped"},
          {"stop_reason", reason},
          {"install_id", installID},
          {"source", source},
          {"observed_at", at}},
         *credential);
}

void NowPlayingUploader::noteCredentialChanged() {
    std::lock_guard guard(lock_);
    lastSignature_.clear();
    lastSentAt_.reset();
}

double NowPlayingUploader::heartbeatSeconds() const {
    std::lock_guard guard(lock_);
    return heartbeatSeconds_;
}

void NowPlayingUploader::setOnBudget(BudgetCallback callback) {
    std::lock_guard guard(lock_);
    onBudget_ = std::move(callback);
}

void NowPlayingUploader::setOnCredentialRejected(CredentialRejectedCallback callback) {
    std::lock_guard guard(lock_);
    onCredentialRejected_ = std::move(callback);
}

void NowPlayingUploader::setOnAccepted(AcceptedCallback callback) {
    std::lock_guard guard(lock_);
    onAccepted_ = std::move(callback);
}

void NowPlayingUploader::post(Json body, const UploadCredential& credential) {
    std::weak_ptr<NowPlayingUploader> weak = weak_from_this();
    Json sent = body;
    transport_.post(body, credential,
                    [weak, sent = std::move(sent)](std::optional<Json> answer, int64_t status) {
                        if (auto self = weak.lock()) self->handleAnswer(sent, answer, status);
                    });
}

void NowPlayingUploader::handleAnswer(const Json& body, const std::optional<Json>& answer,
                                      int64_t status) {
    BudgetCallback onBudget;
    CredentialRejectedCallback onCredentialRejected;
    AcceptedCallback onAccepted;
    {
        std::lock_guard guard(lock_);
        onBudget = onBudget_;
        onCredentialRejected = onCredentialRejected_;
        onAccepted = onAccepted_;
    }

    const bool isObject = answer && answer->is_object();
    if (isObject) {
        auto budget = answer->find("budget");
        if (budget != answer->end() && budget->is_object() && onBudget) onBudget(*budget);
    }
    if (status == 401 || status == 403) {
        if (onCredentialRejected) onCredentialRejected();
        return;
    }
    if (status < 200 || status > 299 || !isObject) return;

    auto accepted = answer->find("accepted");
    if (accepted != answer->end() && accepted->is_boolean() && accepted->get<bool>() &&
        hasNonEmptyString(body, "artist") && hasNonEmptyString(body, "track") && onAccepted)
        onAccepted(body.at("artist").get<std::string>(), body.at("track").get<std::string>());

    auto heartbeat = answer->find("heartbeat_seconds");
    if (heartbeat != answer->end() && heartbeat->is_number()) {
        const double seconds = heartbeat->get<double>();
        if (seconds >= minimumHeartbeatSeconds && seconds <= maximumHeartbeatSeconds) {
            std::lock_guard guard(lock_);
            heartbeatSeconds_ = seconds;
        }
    }
}

} // namespace qb
