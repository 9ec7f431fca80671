#pragma once

#include <memory>
#include <systemd/sd-bus.h>

namespace qb::sdbus {

// Owning handles for sd-bus objects. Closing never flushes: a stuck peer must not hold up
// the main thread when the bridge goes away.
struct BusRelease {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct SlotRelease {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct MessageRelease {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

using Bus = std::unique_ptr<sd_bus, BusRelease>;
using Slot = std::unique_ptr<sd_bus_slot, SlotRelease>;
using Message = std::unique_ptr<sd_bus_message, MessageRelease>;

// An sd_bus_error that frees itself.
struct Error {
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, without a C compound literal
    Error() = default;
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    ~Error() { sd_bus_error_free(&error); }
    sd_bus_error* get() { return &error; }
};

} // namespace qb::sdbus
