#include <alsa/asoundlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/usb_gadget.h"

namespace corvane::tools {

namespace {

namespace fs = std::filesystem;

const fs::path kGadgets = "/sys/kernel/config/usb_gadget";
const fs::path kControllers = "/sys/class/udc";
// The ALSA card id of the gadget side, for finding its raw MIDI device, is
// this prefix and the process id: several gadgets live side by side, and ALSA
// gives a taken id a suffix, so a shared id would find another gadget's card.
// Card ids hold at most 15 characters; a pid has at most 7 digits.
constexpr const char* kCardIdPrefix = "Devsim";
// Binding registers the gadget side's sound card before it returns; the wait
// covers a slow machine.
constexpr auto kCardWait = std::chrono::seconds(10);
constexpr auto kCardPoll = std::chrono::milliseconds(20);

bool WriteText(const fs::path& file, const std::string& text) {
    std::ofstream out(file);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

class UsbMidiGadget final : public RawMidiLink {
public:
    UsbMidiGadget(fs::path root, std::string udc, std::string cardId)
        : m_root(std::move(root)), m_udc(std::move(udc)), m_cardId(std::move(cardId)) {}
    ~UsbMidiGadget() override {
        Disappear();
        std::error_code ignored;
        fs::remove(m_root / "configs/c.1/midi.usb0", ignored);
        for (const char* dir : {"configs/c.1/strings/0x409", "configs/c.1", "functions/midi.usb0",
                                "strings/0x409", ""}) {
            // configfs directories go with rmdir only, innermost first.
            rmdir((m_root / dir).c_str());
        }
    }
    UsbMidiGadget(const UsbMidiGadget&) = delete;
    UsbMidiGadget& operator=(const UsbMidiGadget&) = delete;

    std::optional<RawMidiAddresses> Appear() override {
        if (!WriteText(m_root / "UDC", m_udc)) {
            std::fprintf(stderr, "corvane-devsim: cannot bind the gadget to %s\n", m_udc.c_str());
            return std::nullopt;
        }
        m_bound = true;
        const auto deadline = std::chrono::steady_clock::now() + kCardWait;
        while (std::chrono::steady_clock::now() < deadline) {
            const int card = snd_card_get_index(m_cardId.c_str());
            if (card >= 0) {
                const std::string address = "hw:" + std::to_string(card) + ",0,0";
                return RawMidiAddresses{address, address};
            }
            std::this_thread::sleep_for(kCardPoll);
        }
        std::fprintf(stderr, "corvane-devsim: the gadget's sound card did not appear\n");
        return std::nullopt;
    }

    void Disappear() override {
        if (m_bound) {
            WriteText(m_root / "UDC", "\n");
            m_bound = false;
        }
    }

private:
    const fs::path m_root;
    const std::string m_udc;
    const std::string m_cardId;
    bool m_bound = false;  // touched by the device's thread or the owner, never both
};

bool MakeDirs(const fs::path& root) {
    for (const char* dir :
         {"", "strings/0x409", "configs/c.1", "configs/c.1/strings/0x409", "functions/midi.usb0"}) {
        if (mkdir((root / dir).c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

std::string FirstController() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kControllers, error)) {
        return entry.path().filename().string();
    }
    return {};
}

}  // namespace

std::unique_ptr<RawMidiLink> CreateUsbMidiGadget(const std::string& product,
                                                 const std::string& udc) {
    const std::string controller = udc == "auto" ? FirstController() : udc;
    if (controller.empty() || !fs::exists(kControllers / controller)) {
        std::fprintf(stderr, "corvane-devsim: no USB device controller%s%s\n",
                     udc == "auto" ? "" : " ", udc == "auto" ? "" : udc.c_str());
        return nullptr;
    }
    const std::string pid = std::to_string(getpid());
    const fs::path root = kGadgets / ("corvane-devsim-" + pid);
    if (!MakeDirs(root)) {
        std::fprintf(stderr, "corvane-devsim: cannot build a USB gadget under %s\n",
                     kGadgets.c_str());
        return nullptr;
    }
    // The link owns the directories from here on, and removes them if a value is refused.
    std::string cardId = kCardIdPrefix;
    cardId += pid;
    auto gadget = std::make_unique<UsbMidiGadget>(root, controller, cardId);
    const fs::path function = root / "functions/midi.usb0";
    const bool written =
        WriteText(root / "idVendor", "0x1d6b") && WriteText(root / "idProduct", "0x0104") &&
        WriteText(root / "bcdDevice", "0x0100") && WriteText(root / "bcdUSB", "0x0200") &&
        WriteText(root / "strings/0x409/manufacturer", "Corvane device simulator") &&
        WriteText(root / "strings/0x409/product", product) &&
        WriteText(root / "strings/0x409/serialnumber", "0001") &&
        WriteText(root / "configs/c.1/strings/0x409/configuration", "MIDI") &&
        WriteText(root / "configs/c.1/MaxPower", "100") && WriteText(function / "id", cardId) &&
        WriteText(function / "in_ports", "1") && WriteText(function / "out_ports", "1");
    std::error_code error;
    if (!written) {
        std::fprintf(stderr, "corvane-devsim: the USB gadget refused its settings\n");
        return nullptr;
    }
    fs::create_directory_symlink(function, root / "configs/c.1/midi.usb0", error);
    if (error) {
        std::fprintf(stderr, "corvane-devsim: cannot put the MIDI function into the gadget\n");
        return nullptr;
    }
    return gadget;
}

}  // namespace corvane::tools
