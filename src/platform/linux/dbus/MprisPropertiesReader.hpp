#pragma once

#include "platform/linux/dbus/MprisPlayerState.hpp"

#include <systemd/sd-bus.h>

namespace qb::MprisPropertiesReader {

// Reads an a{sv} of org.mpris.MediaPlayer2.Player properties (the body of a GetAll answer,
// or the second argument of PropertiesChanged) at the message's read position. Values of a
// type MPRIS does not define are skipped and count as absent; sd-bus has already checked
// that every string is valid UTF-8. Returns a negative errno when the message does not hold
// an a{sv} there; change is then unusable.
int read(sd_bus_message* message, MprisPropertiesChange& change);

} // namespace qb::MprisPropertiesReader
