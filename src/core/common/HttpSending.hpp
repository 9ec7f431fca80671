#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qb {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    double timeoutSeconds = 30;
    // The caller needs the status only: the answer's body is read and dropped, whatever its
    // size, so that a large accepted answer still counts as accepted.
    bool ignoresBody = false;
};

struct HttpResponse {
    // 0 when there was no HTTP answer (connection failure, time-out, TLS failure).
    int64_t status = 0;
    std::string body;
    // The client's description of a transport failure; empty when an HTTP answer arrived.
    std::string error;
};

// Sends one request; the completion runs exactly once, on the client's network thread.
class HttpSending {
  public:
    virtual ~HttpSending() = default;
    virtual void send(HttpRequest request, std::function<void(HttpResponse)> completion) = 0;
};

} // namespace qb
