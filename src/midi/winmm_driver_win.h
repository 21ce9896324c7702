#pragma once
// The winmm calls of the Windows MIDI backend, behind an interface: the system
// backend makes them on winmm itself; the tests stand in for a driver that
// misbehaves as real ones do once their device has been pulled out.

#include <windows.h>
// windows.h first: the others build on its types.
#include <mmsystem.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "midi/midi_backend.h"

namespace corvane::midi {

// The input callback that InOpen registers (winmm's CALLBACK_FUNCTION).
using MidiInProc = void(CALLBACK*)(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                   DWORD_PTR param2);

// One method for each winmm call the backend makes, with the same results;
// header sizes are those of MIDIHDR.
class WinmmDriver {
public:
    virtual ~WinmmDriver() = default;

    virtual UINT InGetNumDevs() = 0;
    virtual MMRESULT InGetDevCaps(UINT device, MIDIINCAPSW* caps) = 0;
    virtual MMRESULT InOpen(HMIDIIN* handle, UINT device, MidiInProc callback,
                            DWORD_PTR instance) = 0;
    virtual MMRESULT InPrepareHeader(HMIDIIN handle, MIDIHDR* header) = 0;
    virtual MMRESULT InUnprepareHeader(HMIDIIN handle, MIDIHDR* header) = 0;
    virtual MMRESULT InAddBuffer(HMIDIIN handle, MIDIHDR* header) = 0;
    virtual MMRESULT InStart(HMIDIIN handle) = 0;
    virtual MMRESULT InStop(HMIDIIN handle) = 0;
    virtual MMRESULT InReset(HMIDIIN handle) = 0;
    virtual MMRESULT InClose(HMIDIIN handle) = 0;

    virtual UINT OutGetNumDevs() = 0;
    virtual MMRESULT OutGetDevCaps(UINT device, MIDIOUTCAPSW* caps) = 0;
    // Without notifications (CALLBACK_NULL): sends are watched by their done flag.
    virtual MMRESULT OutOpen(HMIDIOUT* handle, UINT device) = 0;
    virtual MMRESULT OutPrepareHeader(HMIDIOUT handle, MIDIHDR* header) = 0;
    virtual MMRESULT OutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header) = 0;
    virtual MMRESULT OutLongMsg(HMIDIOUT handle, MIDIHDR* header) = 0;
    virtual MMRESULT OutReset(HMIDIOUT handle) = 0;
    virtual MMRESULT OutClose(HMIDIOUT handle) = 0;
};

// winmm itself.
WinmmDriver& SystemWinmm();

// How long the backend waits for a driver before it gives up on it.
struct WinmmBounds {
    // A send may take this long, plus the time its bytes need at the MIDI
    // wire's 31,250 baud, before the driver is told to give the message back.
    std::chrono::milliseconds sendGrace{5000};
    // How long a driver that was reset has to give its buffers back, and a
    // reset, stop or close has to return.
    std::chrono::milliseconds giveBack{1000};
    // Blocks left to drivers (BlocksLeftToDrivers) past which no port opens.
    std::size_t maxLeftToDrivers = 16;
};

std::unique_ptr<MidiBackend> CreateWinmmBackend(WinmmDriver& driver, WinmmBounds bounds = {});

// Blocks of memory that a driver still held when its port was closed: an
// input's receive buffers (with what its callback points to), an output's
// message, each with the thread of a call that never returned. Each is left
// to the driver on purpose, never freed under it; this counts them since the
// program started.
std::size_t BlocksLeftToDrivers();

// Called once, on the thread that closed the port, when the first block is
// left to a driver, with the count then; for the program's own output.
void OnFirstBlockLeftToDriver(std::function<void(std::size_t)> notice);

}  // namespace corvane::midi
