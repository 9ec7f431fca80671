#pragma once

#include <string>

namespace qb {

// Why a pairing exchange failed; the description is shown to the user verbatim.
struct PairingError {
    enum class Kind { invalidCallback, exchangeRejected, transport };

    Kind kind = Kind::invalidCallback;
    std::string description;

    static PairingError invalidCallback() {
        return {Kind::invalidCallback, "Quillabrenta returned an invalid connection."};
    }
    static PairingError exchangeRejected() {
        return {Kind::exchangeRejected, "The connection expired or was already used."};
    }
    // The request never got an HTTP answer; the network layer's own description.
    static PairingError transport(std::string description) {
        return {Kind::transport, std::move(description)};
    }

    bool operator==(const PairingError&) const = default;
};

} // namespace qb
