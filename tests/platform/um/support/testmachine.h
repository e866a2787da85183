// What user-mode tests need from the kernel side, behind plain C++ types so
// they can be used beside <windows.h>: the shipped driver's entry, virtual
// devices by product id, and a scriptable kernel-streaming filter for the
// cases the driver never produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace usbsim {
class VirtualDevice;
}

namespace umtest {

// mrvusbaudio's DriverEntry, for umsim::VirtualMachine.
void* DriverEntryOfMrvUsbAudio();
// A new virtual Marvolan device (ownership passes to the caller, usually
// VirtualMachine::Plug).
usbsim::VirtualDevice* NewProductDevice(uint16_t productId);

// ---- The scripted filter ------------------------------------------------------
enum class FakeInterfaces { Standard, LoopedOnly };
enum class FakeRanges {
    Pcm,            // one 88-byte PCM range: 1-2 channels, 16-24 bits, 44100-48000 Hz
    Midi,           // one music range
    None,           // no ranges at all
    PcmThenFloat,   // the PCM range, then a float range of 2-8 channels
};
struct FakePin {
    uint32_t dataFlow = 1;       // KSPIN_DATAFLOW
    uint32_t communication = 1;  // KSPIN_COMMUNICATION
    FakeInterfaces interfaces = FakeInterfaces::Standard;
    FakeRanges ranges = FakeRanges::Pcm;
    bool refuseCreate = false;   // lists formats it then refuses
};
struct FakeFilterScenario {
    std::vector<FakePin> pins;
    bool audioCategoryTwice = false;  // KSCATEGORY_AUDIO listed twice
    bool failPinCount = false;        // KSPROPERTY_PIN_CTYPES fails
};

// The scenario the next boot of the fake driver publishes (one filter under
// KSCATEGORY_AUDIO, reference "GLOBAL").
void SetFakeFilterScenario(const FakeFilterScenario& scenario);
void* DriverEntryOfFakeFilter();

// A property the fake filter pends: set kPendingPropertySet, id 0, GET with
// a 4-byte value. The request waits until the test completes it.
extern const uint8_t kPendingPropertySet[16];
// Blocks until `count` requests are pending.
void WaitForPendingRequests(size_t count);
// Completes every pending request: with `value` and 4 bytes on success.
void CompletePendingRequests(int32_t status, uint32_t value);

}  // namespace umtest
