// Connection links, as a browser or another program may hand them to the application.
#include "FuzzInput.hpp"
#include "core/account/PairingClient.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url = qb::fuzz::text(data, size);
    if (auto callback = qb::PairingClient::parseCallback(url, "https://quillabrenta.io")) {
        // Only the production origin is ever accepted.
        if (callback->baseURL != "https://quillabrenta.io") __builtin_trap();
    }
    return 0;
}
