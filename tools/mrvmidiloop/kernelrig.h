// The kernel side of a long run: the driver loaded by the PnP manager, one
// virtual Marvolan device plugged (MIDI out echoed to MIDI in, audio out
// looped to audio in), a client of its filter, and the verifier's findings
// collected instead of aborting, so that a run can report them all.
#pragma once

#include "hardware/marvolandevice.h"
#include "km/ksclient.h"
#include "usb/bus.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A MIDI out pin and the in pin its cable echoes to.
struct MidiPinPair {
    ULONG outPin;
    ULONG inPin;
    bool hidden;  // the HiddenMidi subformat
};

// Driven from one thread; only the findings count is written from others.
class KernelRig {
public:
    KernelRig();
    // Unplugs and unloads if still there.
    ~KernelRig();
    KernelRig(const KernelRig&) = delete;
    KernelRig& operator=(const KernelRig&) = delete;

    NTSTATUS Plug(uint16_t product);
    void Unplug();
    // The device pulled out while clients still hold pins: the bus fails
    // its requests, then the system removes it and closes what was left
    // open (kernel clients hold no reference on the stack).
    void SurpriseUnplug();
    bool Plugged() const { return m_busDevice != nullptr; }
    // Unloads the driver (after Unplug) and says what it left behind: empty
    // when no pool and no registry handle is outstanding.
    std::string UnloadAndCheckLeaks();

    kmsim::KsClientHandle* Filter() { return m_filter.get(); }
    // The filter's MIDI pins, each out pin paired with the in pin of its
    // cable (the pins come in that order).
    std::vector<MidiPinPair> MidiPins();
    usbsim::Bus& Bus() { return m_bus; }
    hardware::MarvolanDevice& Hardware() { return *m_hardware; }

    // Findings of the verifier since the start (any thread).
    uint64_t Findings() const { return m_findings.load(); }

private:
    usbsim::Bus m_bus;
    PDRIVER_OBJECT m_driver = nullptr;
    usbsim::BusDevice* m_busDevice = nullptr;
    hardware::MarvolanDevice* m_hardware = nullptr;
    std::unique_ptr<kmsim::KsClientHandle> m_filter;
    size_t m_keyHandlesBefore = 0;
    std::atomic<uint64_t> m_findings{0};  // counted by whichever thread the verifier catches
    int m_plugs = 0;
};
