#pragma once
// The simulated device as a USB MIDI device of this machine, through the
// kernel's USB gadget framework (configfs, function "midi"): on a machine with
// a USB device controller (dummy_hcd in a VM, a board in USB device mode) the
// connected host sees a MIDI device whose product string is the device's name.
// Appearing binds the gadget to the controller, disappearing unbinds it: a
// real disconnect, and a new enumeration on the way back.

#include <memory>
#include <string>

#include "tools/rawmidi_ports.h"

namespace corvane::tools {

// Builds the gadget (unbound) with `product` as its product string, on the
// controller `udc` ("auto": the first one there). Null, after a line on
// stderr, when configfs or the controller is missing. The gadget is taken down
// when the link is destroyed.
std::unique_ptr<RawMidiLink> CreateUsbMidiGadget(const std::string& product,
                                                 const std::string& udc);

}  // namespace corvane::tools
