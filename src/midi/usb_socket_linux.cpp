#include "midi/usb_socket.h"

#include <filesystem>
#include <string_view>

namespace corvane::midi {

namespace {

bool Digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "1-1.2": a bus number, a dash, port numbers joined by dots.
bool IsUsbDevice(std::string_view name) {
    const auto dash = name.find('-');
    if (dash == std::string_view::npos || !Digits(name.substr(0, dash))) {
        return false;
    }
    std::string_view ports = name.substr(dash + 1);
    for (;;) {
        const auto dot = ports.find('.');
        if (!Digits(ports.substr(0, dot))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        ports.remove_prefix(dot + 1);
    }
}

// "1-1.2:1.0": an interface of device "1-1.2", configuration 1, interface 0.
bool IsUsbInterface(std::string_view name) {
    const auto colon = name.find(':');
    if (colon == std::string_view::npos || !IsUsbDevice(name.substr(0, colon))) {
        return false;
    }
    const std::string_view numbers = name.substr(colon + 1);
    const auto dot = numbers.find('.');
    return dot != std::string_view::npos && Digits(numbers.substr(0, dot)) &&
           Digits(numbers.substr(dot + 1));
}

}  // namespace

std::string UsbSocketOfCard(int card, const std::string& sysRoot) {
    namespace fs = std::filesystem;
    std::error_code error;
    // A USB sound card's device is one of the USB device's interfaces.
    fs::path at = fs::canonical(
        fs::path(sysRoot) / "class" / "sound" / ("card" + std::to_string(card)) / "device", error);
    if (error) {
        return {};
    }
    while (IsUsbInterface(at.filename().string())) {
        at = at.parent_path();
    }
    const std::string name = at.filename().string();
    return IsUsbDevice(name) ? name : std::string();
}

}  // namespace corvane::midi
