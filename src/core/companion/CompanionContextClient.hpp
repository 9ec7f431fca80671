#pragma once

#include "core/account/UploadCredential.hpp"
#include "core/common/Clock.hpp"
#include "core/companion/CompanionContext.hpp"
#include "core/companion/CompanionContextTransport.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qb {

// Fetches the personal context and the capture receipt of a track, one request at a time,
// keeps the last of each and tells the shell on the main thread when it replaced them.
class CompanionContextClient : public std::enable_shared_from_this<CompanionContextClient> {
  public:
    using CredentialProvider = std::function<std::optional<UploadCredential>()>;
    using ContextCallback = std::function<void(const std::optional<CompanionContext>&)>;
    using ReceiptCallback = std::function<void(const std::optional<CompanionCaptureReceipt>&)>;

    // Answers hold the client weakly, so it only exists behind a shared pointer.
    static std::shared_ptr<CompanionContextClient> create(CompanionContextTransport& transport,
                                                          CredentialProvider credentialProvider,
                                                          Executor mainExecutor,
                                                          WallClock clock = systemWallTime);

    std::optional<CompanionContext> currentContext() const;
    std::optional<CompanionCaptureReceipt> currentReceipt() const;

    void setOnContextChange(ContextCallback callback);
    void setOnReceiptChange(ReceiptCallback callback);

    // Asks for the context and the confirmation of this track played since `since`. Dropped
    // while another request runs, and without a usable credential.
    void refresh(const std::string& artist, const std::string& track, int64_t since);

    // Forgets the previous account's values and discards answers still on their way; both
    // callbacks get absent on the calling thread.
    void noteAccountChanged();

    // The request URL, or absent when the base URL cannot carry the path and query.
    static std::optional<std::string> requestURL(const std::string& baseURL,
                                                 const std::string& artist,
                                                 const std::string& track, int64_t since);
    // "current_context" parsed: absent unless artist and track are non-empty strings; ranks
    // only when they are integers that fit 64 bits.
    static std::optional<CompanionContext> parseContext(const Json* currentContext);

  private:
    CompanionContextClient(CompanionContextTransport& transport,
                           CredentialProvider credentialProvider, Executor mainExecutor,
                           WallClock clock);

    void handleAnswer(uint64_t requestGeneration, const std::string& artist,
                      const std::string& track, const std::optional<Json>& body, int64_t status);
    std::optional<CompanionCaptureReceipt> receiptLocked(const Json* confirmation,
                                                         const std::string& artist,
                                                         const std::string& track) const;

    CompanionContextTransport& transport_;
    CredentialProvider credentialProvider_;
    Executor mainExecutor_;
    WallClock clock_;

    mutable std::mutex lock_;
    uint64_t generation_ = 0;
    bool inFlight_ = false;
    std::optional<CompanionContext> cachedContext_;
    std::optional<CompanionCaptureReceipt> cachedReceipt_;
    ContextCallback onContextChange_;
    ReceiptCallback onReceiptChange_;
};

} // namespace qb
