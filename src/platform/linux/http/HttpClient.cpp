#include "platform/linux/http/HttpClient.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <curl/curl.h>
#include <map>
#include <mutex>
#include <signal.h>
#include <strings.h>
#include <thread>
#include <vector>

namespace qb {

namespace {

constexpr const char* cancelledError = "cancelled";
// Used when a request carries no usable time-out, so that no transfer can hang forever.
constexpr long fallbackTimeoutMS = 60'000;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

void runCompletion(const std::function<void(HttpResponse)>& completion, HttpResponse response) {
    if (!completion) return;
    // A throwing completion must not take the network thread, and every other request, down.
    try {
        completion(std::move(response));
    } catch (...) {
    }
}

HttpResponse failure(std::string error) {
    HttpResponse response;
    response.error = std::move(error);
    return response;
}

struct Transfer {
    HttpRequest request;
    std::function<void(HttpResponse)> completion;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::string body;
    size_t limit = 0;
    bool tooLarge = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
        if (headers) curl_slist_free_all(headers);
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* context) {
        auto* self = static_cast<Transfer*>(context);
        size_t bytes = size * count;
        if (self->request.ignoresBody) return bytes;
        if (bytes > self->limit - self->body.size()) {
            self->tooLarge = true;
            return 0; // aborts the transfer with a write error
        }
        self->body.append(data, bytes);
        return bytes;
    }
};

} // namespace

struct HttpClient::Impl {
    Options options;
    CURLM* multi = nullptr;
    std::thread thread;

    std::mutex mutex;
    std::vector<std::unique_ptr<Transfer>> queued; // guarded by mutex
    bool stopping = false;                         // guarded by mutex

    // Network thread only.
    std::map<CURL*, std::unique_ptr<Transfer>> running;

    explicit Impl(Options o) : options(std::move(o)) {
        initialiseCurlOnce();
        multi = curl_multi_init();
        // Without a multi handle every request fails at once as cancelled.
        if (!multi) stopping = true;
        thread = std::thread([this] { run(); });
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        if (multi) curl_multi_wakeup(multi);
        if (thread.joinable()) thread.join();
        if (multi) curl_multi_cleanup(multi);
    }

    void enqueue(std::unique_ptr<Transfer> transfer) {
        bool accepted = false;
        {
            std::lock_guard lock(mutex);
            if (!stopping) {
                queued.push_back(std::move(transfer));
                accepted = true;
            }
        }
        if (accepted)
            curl_multi_wakeup(multi);
        else
            runCompletion(transfer->completion, failure(cancelledError));
    }

    void run() {
        // A peer that closes mid-write must give EPIPE here, not end the process.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

        for (;;) {
            std::vector<std::unique_ptr<Transfer>> incoming;
            bool stop = false;
            {
                std::lock_guard lock(mutex);
                incoming.swap(queued);
                stop = stopping;
            }
            if (stop) {
                for (auto& transfer : incoming)
                    runCompletion(transfer->completion, failure(cancelledError));
                cancelRunning();
                return;
            }
            for (auto& transfer : incoming)
                start(std::move(transfer));

            int active = 0;
            curl_multi_perform(multi, &active);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE)
                    finish(message->easy_handle, message->data.result);
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
    }

    void cancelRunning() {
        auto transfers = std::move(running);
        running.clear();
        for (auto& [easy, transfer] : transfers) {
            curl_multi_remove_handle(multi, easy);
            runCompletion(transfer->completion, failure(cancelledError));
        }
    }

    void start(std::unique_ptr<Transfer> transfer) {
        std::string problem = configure(*transfer);
        if (problem.empty()) {
            CURLMcode added = curl_multi_add_handle(multi, transfer->easy);
            if (added == CURLM_OK) {
                CURL* easy = transfer->easy;
                running.emplace(easy, std::move(transfer));
                return;
            }
            problem = curl_multi_strerror(added);
        }
        runCompletion(transfer->completion, failure(std::move(problem)));
    }

    // Sets up the easy handle; returns a description of what is wrong, or empty.
    std::string configure(Transfer& t) {
        const HttpRequest& request = t.request;
        t.easy = curl_easy_init();
        if (!t.easy) return "cannot create a transfer";
        CURL* easy = t.easy;
        t.limit = options.maxResponseBytes;

        for (const auto& [name, value] : request.headers) {
            if (name.empty() || hasLineBreak(name) || hasLineBreak(value) ||
                name.find(':') != std::string::npos)
                return "invalid header " + name;
            // "Name;" is libcurl's way of sending a header with an empty value.
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            t.headers = curl_slist_append(t.headers, line.c_str());
        }
        bool hasContentType = false;
        for (const auto& header : request.headers)
            hasContentType =
                hasContentType || strcasecmp(header.first.c_str(), "Content-Type") == 0;
        // No form content type unless asked for, and no "Expect: 100-continue" round trip.
        if (!hasContentType) t.headers = curl_slist_append(t.headers, "Content-Type:");
        t.headers = curl_slist_append(t.headers, "Expect:");

        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        if (curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str()) != CURLE_OK)
            return "invalid URL";
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        // With OpenSSL this file replaces libcurl's default bundle, but its default CA
        // directory (/etc/ssl/certs on Debian) stays in effect, so system authorities are
        // still trusted. A file rather than an in-memory bundle lets libcurl cache the store.
        if (!options.extraCAFile.empty())
            curl_easy_setopt(easy, CURLOPT_CAINFO, options.extraCAFile.c_str());

        long timeoutMS = fallbackTimeoutMS;
        if (std::isfinite(request.timeoutSeconds) && request.timeoutSeconds > 0)
            timeoutMS = std::max(1L, std::lround(std::min(request.timeoutSeconds, 86400.0) * 1000));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMS);

        curl_easy_setopt(easy, CURLOPT_USERAGENT, "QuillabrentaCapture/1 (Linux)");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headers);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
        if (!request.ignoresBody)
            curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(options.maxResponseBytes));

        const std::string& method = request.method;
        if (method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (method.empty() || hasLineBreak(method) ||
                   method.find(' ') != std::string::npos) {
            return "invalid method";
        } else {
            if (method == "POST" || !request.body.empty()) {
                curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(request.body.size()));
                curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
            }
            if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        }
        return {};
    }

    void finish(CURL* easy, CURLcode code) {
        auto found = running.find(easy);
        if (found == running.end()) return;
        std::unique_ptr<Transfer> transfer = std::move(found->second);
        running.erase(found);
        curl_multi_remove_handle(multi, easy);

        HttpResponse response;
        if (code == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            response.status = status;
            response.body = std::move(transfer->body);
            if (status == 0) response.error = "no HTTP answer";
        } else if (transfer->tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            response.error =
                "response body larger than " + std::to_string(options.maxResponseBytes) + " bytes";
        } else {
            response.error =
                transfer->errorBuffer[0] ? transfer->errorBuffer : curl_easy_strerror(code);
        }
        runCompletion(transfer->completion, std::move(response));
    }
};

HttpClient::Options HttpClient::Options::fromEnvironment() {
    Options options;
    if (const char* file = std::getenv("QUILLABRENTA_CA_FILE")) options.extraCAFile = file;
    return options;
}

HttpClient::HttpClient() : HttpClient(Options::fromEnvironment()) {}

HttpClient::HttpClient(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

HttpClient::~HttpClient() = default;

void HttpClient::send(HttpRequest request, std::function<void(HttpResponse)> completion) {
    auto transfer = std::make_unique<Transfer>();
    transfer->request = std::move(request);
    transfer->completion = std::move(completion);
    impl_->enqueue(std::move(transfer));
}

HttpClient& HttpClient::shared() {
    static HttpClient* client = new HttpClient();
    return *client;
}

} // namespace qb
