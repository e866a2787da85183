// Where the host runs. On Windows: the system itself, with whatever ASIO
// drivers are installed. On Linux: a virtual machine with the package's
// kernel driver and a virtual Marvolan device, where the package's ASIO
// driver has registered itself, and a desktop the host can play the user on.
#pragma once

#include "hostsession.h"

#include <memory>
#include <string>
#include <vector>

struct SystemOptions {
    unsigned product = 0x10;   // the virtual device (Linux)
    // The virtual bus as fast as the work allows, yet never more than a
    // buffer ahead of the host, instead of in real time (Linux).
    bool fastClock = false;
    std::string windowsRoot;   // the virtual Windows root; empty: a fresh one for this run (Linux)
    std::string asioDriver;    // the ASIO driver module to register; empty: the one built beside (Linux)
};

// A user's action on a dialog: "buffer=5", "rate=44100", "format=16",
// "device=NAME".
struct PanelSetting {
    std::string name;
    std::string value;
};

class HostSystem {
public:
    static std::unique_ptr<HostSystem> Start(const SystemOptions& options, std::string* error);
    virtual ~HostSystem() = default;

    // The window ASIO drivers get from init as their parent.
    virtual void* Window() = 0;
    // Whether the host can act as the user on the driver's dialogs.
    virtual bool CanPlayUser() const = 0;
    // Until the next dialog of the driver has been handled: the next
    // control panel gets the settings and OK (or Cancel with none), and
    // its picture as text is appended to *pictures; message boxes get
    // their first button and are appended too.
    virtual void PlayUserOnNextPanel(const std::vector<PanelSetting>& settings, std::vector<std::string>* pictures) = 0;
    // What the driver wrote to the debug output since the last call.
    virtual std::string TakeDebugOutput() = 0;

    // A session tells the system when it streams and how far the host has
    // got (frames handed to the driver), for a clock that follows the host.
    virtual void StreamStarting() {}
    virtual void BufferSwitched(int64_t framesHandedOver, double rate) { (void)framesHandedOver, (void)rate; }
    virtual void StreamEnding() {}
    // Bus frames the system's clock let pass while the host was behind the
    // audio it had handed over (the machine too busy to run the host in
    // time, where a real-time host glitches too): a gap in the loop then may
    // be the machine's rather than the driver's.
    virtual uint64_t FramesPastHost() const { return 0; }
};

// A session clock that tells the system.
inline SessionClock ClockOf(HostSystem& system, double rate)
{
    return {[&system] { system.StreamStarting(); },
            [&system, rate](int64_t frames) { system.BufferSwitched(frames, rate); },
            [&system] { system.StreamEnding(); }};
}
