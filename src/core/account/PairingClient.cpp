#include "core/account/PairingClient.hpp"

#include "core/common/JsonFields.hpp"
#include "core/common/ServiceEndpoints.hpp"
#include "core/common/UrlQuery.hpp"

namespace qb {

namespace {

// base + path when it parses as an absolute URL and the base has no query or fragment of its
// own that would swallow the path.
std::optional<std::string> endpointURL(const std::string& baseURL, const char* path) {
    if (baseURL.find_first_of("?#") != std::string::npos) return std::nullopt;
    std::string url = baseURL + path;
    if (urlScheme(url).empty()) return std::nullopt;
    return url;
}

bool isSuccess(int64_t status) {
    return status >= 200 && status <= 299;
}

// A bodiless request to one account endpoint, or nothing when the credential can't address it.
std::optional<HttpRequest> accountRequest(const UploadCredential& credential, const char* path,
                                          std::string method, double timeoutSeconds) {
    if (!credential.isUsable()) return std::nullopt;
    auto url = endpointURL(credential.baseURL, path);
    if (!url) return std::nullopt;
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(*url);
    request.headers = {{"Authorization", "Bearer " + credential.token}};
    request.timeoutSeconds = timeoutSeconds;
    return request;
}

} // namespace

std::optional<std::string> PairingClient::connectURL(const std::string& installID) const {
    auto page = endpointURL(productionBaseURL_, endpoints::connectPagePath);
    if (!page) return std::nullopt;
    return *page + "?" + urlquery::buildQuery({{"install_id", installID}});
}

std::optional<PairingClient::Callback>
PairingClient::parseCallback(const std::string& callbackURL, const std::string& productionBaseURL) {
    std::string scheme = urlScheme(callbackURL);
    if (scheme != callbackScheme) return std::nullopt;

    std::string_view rest(callbackURL);
    rest.remove_prefix(scheme.size() + 1);
    if (!rest.starts_with("//")) return std::nullopt;
    rest.remove_prefix(2);
    size_t hostEnd = rest.find_first_of("/?#");
    if (rest.substr(0, hostEnd) != callbackHost) return std::nullopt;

    std::string_view afterHost = hostEnd == std::string_view::npos ? "" : rest.substr(hostEnd);
    afterHost = afterHost.substr(0, afterHost.find('#'));
    size_t question = afterHost.find('?');
    std::string_view query =
        question == std::string_view::npos ? "" : afterHost.substr(question + 1);

    auto items = urlquery::parseQuery(query);
    if (!items) return std::nullopt;
    const auto* code = urlquery::firstItem(*items, "code");
    if (!code || !code->value) return std::nullopt;
    const auto* baseURL = urlquery::firstItem(*items, "base_url");
    if (!baseURL || !baseURL->value) return std::nullopt;
    if (*baseURL->value != productionBaseURL) return std::nullopt;
    if (!endpointURL(*baseURL->value, endpoints::exchangePath)) return std::nullopt;
    return Callback{*code->value, *baseURL->value};
}

PairingClient::ExchangeResult PairingClient::exchangeResult(const HttpResponse& response,
                                                            const std::string& productionBaseURL,
                                                            double now) {
    if (response.status == 0)
        return PairingError::transport(response.error.empty() ? "The network connection failed."
                                                              : response.error);
    if (!isSuccess(response.status)) return PairingError::exchangeRejected();
    try {
        Json body = json::requireObject(json::parse(response.body), "exchange answer");
        bool ok = json::requireBool(body, "ok");
        auto token = json::optionalString(body, "token");
        auto baseURL = json::optionalString(body, "base_url");
        auto accountID = json::optionalString(body, "account_id");
        auto accountEmail = json::optionalString(body, "account_email");
        json::optionalString(body, "error");
        // An empty token could never be used or stored.
        if (!ok || !token || token->empty() || !baseURL || *baseURL != productionBaseURL)
            return PairingError::exchangeRejected();
        return UploadCredential{*token, *baseURL, wholeSeconds(now), accountID.value_or(""),
                                accountEmail.value_or("")};
    } catch (const std::exception&) {
        return PairingError::exchangeRejected();
    }
}

std::optional<std::string> PairingClient::identityResult(const HttpResponse& response) {
    if (!isSuccess(response.status)) return std::nullopt;
    try {
        Json body = json::requireObject(json::parse(response.body), "identity answer");
        bool ok = json::requireBool(body, "ok");
        auto accountEmail = json::optionalString(body, "account_email");
        json::optionalString(body, "error");
        if (!ok || !accountEmail || accountEmail->empty()) return std::nullopt;
        return accountEmail;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void PairingClient::exchange(const std::string& callbackURL, const std::string& installID,
                             ExchangeCompletion completion) const {
    auto callback = parseCallback(callbackURL, productionBaseURL_);
    if (!callback) {
        completion(PairingError::invalidCallback());
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = callback->baseURL + endpoints::exchangePath;
    request.headers = {{"Content-Type", "application/json"}};
    request.timeoutSeconds = exchangeTimeoutSeconds;
    try {
        request.body = json::dump(Json{{"code", callback->code}, {"install_id", installID}});
    } catch (const DecodeError&) {
        // Only an install ID that is not UTF-8 gets here; the code was checked on decoding.
        completion(PairingError::invalidCallback());
        return;
    }
    http_.send(std::move(request),
               [completion = std::move(completion), production = productionBaseURL_,
                clock = clock_](HttpResponse response) {
                   completion(exchangeResult(response, production, clock()));
               });
}

void PairingClient::fetchIdentity(const UploadCredential& credential,
                                  IdentityCompletion completion) const {
    auto request =
        accountRequest(credential, endpoints::identityPath, "GET", identityTimeoutSeconds);
    if (!request) return;
    http_.send(std::move(*request), [completion = std::move(completion)](HttpResponse response) {
        completion(identityResult(response));
    });
}

void PairingClient::disconnect(const UploadCredential& credential) const {
    auto request =
        accountRequest(credential, endpoints::disconnectPath, "POST", disconnectTimeoutSeconds);
    if (!request) return;
    http_.send(std::move(*request), [](HttpResponse) {});
}

} // namespace qb
