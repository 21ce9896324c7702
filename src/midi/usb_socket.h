#pragma once
// Where a sound card is plugged in: the bus path of the USB device behind it
// in sysfs ("1-1.2": bus 1, port 1, then port 2 of the hub there). The path
// names the socket, not the device, so it stays the same when the device
// re-enumerates, and tells identical devices apart by where they sit.

#include <string>

namespace corvane::midi {

// The socket of ALSA card `card`; empty when the card is not a USB device or
// not there. `sysRoot`: where sysfs is mounted.
std::string UsbSocketOfCard(int card, const std::string& sysRoot = "/sys");

}  // namespace corvane::midi
