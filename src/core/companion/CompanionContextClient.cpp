#include "core/companion/CompanionContextClient.hpp"

#include "core/common/ServiceEndpoints.hpp"
#include "core/common/UrlQuery.hpp"

#include <limits>

namespace qb {

namespace {

std::optional<int64_t> integerOnly(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (it->is_number_unsigned()) {
        auto value = it->get<uint64_t>();
        if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        return static_cast<int64_t>(value);
    }
    if (it->is_number_integer()) return it->get<int64_t>();
    return std::nullopt;
}

std::optional<std::string> nonEmptyString(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    auto text = it->get<std::string>();
    if (text.empty()) return std::nullopt;
    return text;
}

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

} // namespace

std::shared_ptr<CompanionContextClient>
CompanionContextClient::create(CompanionContextTransport& transport,
                               CredentialProvider credentialProvider, Executor mainExecutor,
                               WallClock clock) {
    return std::shared_ptr<CompanionContextClient>(new CompanionContextClient(
        transport, std::move(credentialProvider), std::move(mainExecutor), std::move(clock)));
}

CompanionContextClient::CompanionContextClient(CompanionContextTransport& transport,
                                               CredentialProvider credentialProvider,
                                               Executor mainExecutor, WallClock clock)
    : transport_(transport), credentialProvider_(std::move(credentialProvider)),
      mainExecutor_(std::move(mainExecutor)), clock_(std::move(clock)) {}

std::optional<CompanionContext> CompanionContextClient::currentContext() const {
    std::lock_guard guard(lock_);
    return cachedContext_;
}

std::optional<CompanionCaptureReceipt> CompanionContextClient::currentReceipt() const {
    std::lock_guard guard(lock_);
    return cachedReceipt_;
}

void CompanionContextClient::setOnContextChange(ContextCallback callback) {
    std::lock_guard guard(lock_);
    onContextChange_ = std::move(callback);
}

void CompanionContextClient::setOnReceiptChange(ReceiptCallback callback) {
    std::lock_guard guard(lock_);
    onReceiptChange_ = std::move(callback);
}

std::optional<std::string> CompanionContextClient::requestURL(const std::string& baseURL,
                                                              const std::string& artist,
                                                              const std::string& track,
                                                              int64_t since) {
    // A base with its own query or fragment would swallow the path.
    if (baseURL.find_first_of("?#") != std::string::npos) return std::nullopt;
    std::string url = baseURL + endpoints::companionContextPath;
    if (urlScheme(url).empty()) return std::nullopt;
    return url + "?" +
           urlquery::buildQuery(
               {{"artist", artist}, {"track", track}, {"since", std::to_string(since)}});
}

std::optional<CompanionContext> CompanionContextClient::parseContext(const Json* currentContext) {
    if (!currentContext || !currentContext->is_object()) return std::nullopt;
    auto artist = nonEmptyString(*currentContext, "artist");
    auto track = nonEmptyString(*currentContext, "track");
    if (!artist || !track) return std::nullopt;
    return CompanionContext{*artist, *track,
                            CompanionPersonalContext{integerOnly(*currentContext, "track_rank"),
                                                     integerOnly(*currentContext, "artist_rank"),
                                                     integerOnly(*currentContext, "album_rank")}};
}

void CompanionContextClient::refresh(const std::string& artist, const std::string& track,
                                     int64_t since) {
    if (artist.empty() || track.empty()) return;
    std::optional<UploadCredential> credential;
    uint64_t requestGeneration = 0;
    {
        std::lock_guard guard(lock_);
        if (inFlight_) return;
        if (credentialProvider_) credential = credentialProvider_();
        if (!credential || !credential->isUsable()) return;
        inFlight_ = true;
        requestGeneration = generation_;
    }
    auto url = requestURL(credential->baseURL, artist, track, since);
    if (!url) {
        std::lock_guard guard(lock_);
        inFlight_ = false;
        return;
    }
    std::weak_ptr<CompanionContextClient> weakSelf = weak_from_this();
    try {
        transport_.get(
            *url, *credential,
            [weakSelf, requestGeneration, artist, track](std::optional<Json> body, int64_t status) {
                if (auto self = weakSelf.lock())
                    self->handleAnswer(requestGeneration, artist, track, body, status);
            });
    } catch (...) {
        // A transport that could not start the request must not leave the client busy forever.
        std::lock_guard guard(lock_);
        inFlight_ = false;
        throw;
    }
}

std::optional<CompanionCaptureReceipt>
CompanionContextClient::receiptLocked(const Json* confirmation, const std::string& artist,
                                      const std::string& track) const {
    if (!confirmation || !confirmation->is_object()) return std::nullopt;
    const Json* confirmed = member(*confirmation, "confirmed");
    if (!confirmed || !confirmed->is_boolean() || !confirmed->get<bool>()) return std::nullopt;
    auto uts = integerOnly(*confirmation, "canonical_uts");
    if (!uts) return std::nullopt;
    if (cachedReceipt_ && cachedReceipt_->artist == artist && cachedReceipt_->track == track &&
        cachedReceipt_->canonicalUts == *uts)
        return cachedReceipt_;
    return CompanionCaptureReceipt{artist, track, *uts, wholeSeconds(clock_())};
}

void CompanionContextClient::handleAnswer(uint64_t requestGeneration, const std::string& artist,
                                          const std::string& track, const std::optional<Json>& body,
                                          int64_t status) {
    std::optional<CompanionContext> context;
    std::optional<CompanionCaptureReceipt> receipt;
    ContextCallback onContext;
    ReceiptCallback onReceipt;
    {
        std::lock_guard guard(lock_);
        inFlight_ = false;
        if (requestGeneration != generation_ || status < 200 || status > 299) return;
        if (!body || !body->is_object() || body->empty()) return;
        const Json* ok = member(*body, "ok");
        if (!ok || !ok->is_boolean() || !ok->get<bool>()) return;
        context = parseContext(member(*body, "current_context"));
        receipt = receiptLocked(member(*body, "latest_capture_confirmation"), artist, track);
        cachedContext_ = context;
        cachedReceipt_ = receipt;
        onContext = onContextChange_;
        onReceipt = onReceiptChange_;
    }
    mainExecutor_([onContext, onReceipt, context, receipt] {
        if (onContext) onContext(context);
        if (onReceipt) onReceipt(receipt);
    });
}

void CompanionContextClient::noteAccountChanged() {
    ContextCallback onContext;
    ReceiptCallback onReceipt;
    {
        std::lock_guard guard(lock_);
        ++generation_;
        cachedContext_.reset();
        cachedReceipt_.reset();
        onContext = onContextChange_;
        onReceipt = onReceiptChange_;
    }
    if (onContext) onContext(std::nullopt);
    if (onReceipt) onReceipt(std::nullopt);
}

} // namespace qb
