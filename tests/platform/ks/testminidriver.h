// A small streaming minidriver for the class driver's tests: one filter with
// a render pin (PCM ranges, one instance, processed only when attempted),
// its bridge pin, a MIDI pin (any number of instances, processed as frames
// arrive) and a capture pin; a private property set and event on the filter;
// a position property on the render pin. Every callback is logged, and its
// result can be forced per test.
#pragma once

#include <ks.h>
#include <ksmedia.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kstest {

// {0E8E1E9B-5B7E-4C55-9D35-3A1E00000001}, and the event set ...02.
DEFINE_GUID(KSPROPSETID_Test, 0x0E8E1E9B, 0x5B7E, 0x4C55, 0x9D, 0x35, 0x3A, 0x1E, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(KSEVENTSETID_Test, 0x0E8E1E9B, 0x5B7E, 0x4C55, 0x9D, 0x35, 0x3A, 0x1E, 0x00, 0x00, 0x00, 0x02);
constexpr ULONG kTestValueProperty = 0;  // ULONG, get and set
constexpr ULONG kTestEvent = 1;

constexpr ULONG kRenderPin = 0;
constexpr ULONG kBridgePin = 1;
constexpr ULONG kMidiPin = 2;
constexpr ULONG kCapturePin = 3;
constexpr ULONG kPinCount = 4;

constexpr ULONG kContextTag = 0x544B7374;  // "tsKT"

struct MinidriverState {
    std::vector<std::string> log;  // "Add", "PostStart", "SetPower 1<-4", "PinCreate 0", ...
    NTSTATUS addStatus = STATUS_SUCCESS;
    NTSTATUS postStartStatus = STATUS_SUCCESS;
    NTSTATUS pinCreateStatus = STATUS_SUCCESS;
    int failStateStepTo = -1;  // SetDeviceState to this state fails
    bool createFactory = true;
    ULONG testValue = 7;
    PKSDEVICE device = nullptr;
    PKSFILTERFACTORY factory = nullptr;
    bool pinNameHandled = false;  // the filter table serves KSPROPERTY_PIN_NAME
    std::function<void(PKSPIN)> onPinCreate;
    // Items hung on the device's bag that were freed, by their value.
    std::vector<int> freedItems;
    // Streaming: bytes the render pin takes per Process, what it and the MIDI
    // pin took, and how many frames the capture pin fills (with captureByte).
    ULONG renderBytesPerProcess = 0xFFFFFFFF;
    NTSTATUS renderFrameStatus = STATUS_SUCCESS;  // set on each frame the render pin takes from
    std::vector<uint8_t> rendered;
    std::vector<uint8_t> midiReceived;
    ULONG captureFrames = 0;
    ULONG captureBytes = 16;
    uint8_t captureByte = 0xAB;
    ULONG processCalls = 0;
};

MinidriverState& State();
void ResetState();

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

// The header every data format and range starts with, for a structure of
// `size` bytes.
KSDATAFORMAT DataFormat(ULONG size, const GUID& major, const GUID& sub, const GUID& specifier);
// A render format: PCM in a KSDATAFORMAT_WAVEFORMATEX.
KSDATAFORMAT_WAVEFORMATEX WaveFormat(USHORT channels, USHORT bits, ULONG rate);
KSPIN_CONNECT StandardConnect(ULONG pinId);

}  // namespace kstest
