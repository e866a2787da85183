// What user-mode tests need from the kernel side, behind plain C++ types so
// they can be used beside <windows.h>: the shipped driver's entry, virtual
// devices by product id, and a scriptable kernel-streaming filter for the
// cases the driver never produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
// The same, with its audio IN endpoints playing back what its first audio
// OUT endpoint received `delayFrames` bus frames earlier.
usbsim::VirtualDevice* NewLoopbackDevice(uint16_t productId, uint32_t delayFrames);

// A class-compliant device whose filter has two render streams (two
// render pins) and one capture stream.
usbsim::VirtualDevice* NewTwoRenderStreamDevice();

// ---- The kernel's pool, as user-mode tests see it --------------------------------
// FailNthPoolAllocation(1) fails the kernel's next pool allocation, on any
// thread; the count covers every tag.
void FailNthPoolAllocation(uint64_t n);
void ClearPoolFaults();
uint64_t InjectedPoolFailures();     // since the process started
uint64_t PoolAllocationCount();      // made so far, failed ones included
uint64_t PoolOutstandingBytes();     // of every tag
std::string PoolLeakReport();

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

// Every scripted pin has the category KSNODETYPE_DAC and the name GUID
// whose media-category key this is (relative to HKEY_LOCAL_MACHINE); its
// "Name" value is the pin's name.
extern const char kFakePinNameKey[];

// The scenario the next boot of the fake driver publishes (one filter under
// KSCATEGORY_AUDIO, reference "GLOBAL").
void SetFakeFilterScenario(const FakeFilterScenario& scenario);
void* DriverEntryOfFakeFilter();

// Properties of a set only the scripted filter knows, answered by hand:
// GET of kPendedProperty waits until the test completes it (4-byte value);
// kEmptyProperty answers success with no bytes; kOversizedProperty answers
// a 16-byte KSMULTIPLE_ITEM whose Size claims far more than that.
extern const uint8_t kScriptedPropertySet[16];
constexpr uint32_t kPendedProperty = 0;
constexpr uint32_t kEmptyProperty = 1;
constexpr uint32_t kOversizedProperty = 2;
// A control code the scripted filter answers with "more data" (buffer
// overflow) and 16 bytes, whatever the buffers.
constexpr uint32_t kSizeAnsweringControlCode = (0x2F << 16) | (0x7F0 << 2) | 3;
// Blocks until `count` requests are pending.
void WaitForPendingRequests(size_t count);
// Completes every pending request: with `value` and 4 bytes on success.
void CompletePendingRequests(int32_t status, uint32_t value);

}  // namespace umtest
