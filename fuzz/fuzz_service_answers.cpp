// Every reader of a service answer, on the same status and body.
#include "FuzzInput.hpp"
#include "core/account/PairingClient.hpp"
#include "core/companion/CompanionContextClient.hpp"
#include "core/ratings/HttpRatingsTransport.hpp"
#include "core/service/HttpReconcileTransport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    qb::HttpResponse response;
    response.status = (data[0] << 8 | data[1]) % 700;
    response.body = qb::fuzz::text(data + 2, size - 2);
    (void)qb::HttpReconcileTransport::interpret(response);
    (void)qb::HttpRatingsTransport::interpretAvailability(response);
    (void)qb::HttpRatingsTransport::interpretPost(response);
    (void)qb::PairingClient::exchangeResult(response, "https://quillabrenta.io", 1700000000.0);
    (void)qb::PairingClient::identityResult(response);
    try {
        const qb::Json body = qb::json::parse(response.body);
        if (body.is_object() && body.contains("current_context"))
            (void)qb::CompanionContextClient::parseContext(&body["current_context"]);
    } catch (const std::exception&) {
    }
    return 0;
}
