// The socket of a sound card, read from a sysfs tree built for the test.

#include "midi/usb_socket.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace corvane::midi {
namespace {

namespace fs = std::filesystem;

class FakeSysfs {
public:
    FakeSysfs() : m_root(fs::temp_directory_path() / ("corvane-sys-" + std::to_string(getpid()))) {}
    ~FakeSysfs() { fs::remove_all(m_root); }
    // Card `card`'s device is the directory `device` under devices/.
    void AddCard(int card, const std::string& device) {
        fs::create_directories(m_root / "devices" / device);
        const fs::path link = m_root / "class" / "sound" / ("card" + std::to_string(card));
        fs::create_directories(link);
        // sysfs links relatively, as here.
        fs::create_directory_symlink(fs::path("../../..") / "devices" / device, link / "device");
    }
    std::string Root() const { return m_root.string(); }

private:
    fs::path m_root;
};

TEST(UsbSocketTest, TheUsbDeviceBehindACardNamesItsSocket) {
    FakeSysfs sys;
    sys.AddCard(0, "pci0000:00/0000:00:1f.3");
    sys.AddCard(1, "pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.0");
    sys.AddCard(2, "pci0000:00/0000:00:14.0/usb1/1-1/1-1.4/1-1.4.3/1-1.4.3:1.1");
    sys.AddCard(3, "platform/dummy_hcd.2/usb3/3-1/3-1:1.0");
    sys.AddCard(4, "platform/snd-virmidi.0");
    const struct {
        int card;
        const char* socket;
    } cases[] = {
        {0, ""},                                                     // built in, not USB
        {1, "1-1.2"}, {2, "1-1.4.3"}, {3, "3-1"}, {4, ""}, {5, ""},  // no such card
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UsbSocketOfCard(c.card, sys.Root()), c.socket) << "card " << c.card;
    }
}

}  // namespace
}  // namespace corvane::midi
