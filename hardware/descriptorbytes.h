// Building blocks of the Marvolan descriptor sets. Each function returns one
// descriptor (or a run of them) as the bytes that go on the wire; the field
// layout is spelled out next to the bytes in descriptorbytes.cpp.
#pragma once

#include "usb/descriptordevice.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace hardware {

using Bytes = std::vector<uint8_t>;

// USB Audio 1.0 / MIDI 1.0 codes used in the sets.
constexpr uint8_t kClassAudio = 0x01;
constexpr uint8_t kSubClassAudioControl = 0x01;
constexpr uint8_t kSubClassAudioStreaming = 0x02;
constexpr uint8_t kSubClassMidiStreaming = 0x03;
constexpr uint8_t kClassVendor = 0xFF;

// bmAttributes of endpoints.
constexpr uint8_t kIsochronousAsync = 0x05;
constexpr uint8_t kIsochronousAdaptive = 0x09;
constexpr uint8_t kIsochronousFeedback = 0x11;
constexpr uint8_t kBulk = 0x02;
constexpr uint8_t kInterrupt = 0x03;

// String indices every Marvolan device uses.
constexpr uint8_t kManufacturerString = 1;
constexpr uint8_t kProductString = 2;

Bytes Join(std::initializer_list<Bytes> parts);

Bytes DeviceDescriptor(uint16_t vendorId, uint16_t productId);
// Configuration header plus its parts, with wTotalLength set to the size of
// the whole.
Bytes Configuration(uint8_t numInterfaces, std::initializer_list<Bytes> parts);
Bytes Interface(uint8_t number, uint8_t alternateSetting, uint8_t numEndpoints, uint8_t interfaceClass,
                uint8_t subClass, uint8_t protocol = 0);
// Standard 7-byte endpoint descriptor.
Bytes Endpoint(uint8_t address, uint8_t attributes, uint16_t maxPacketSize, uint8_t interval = 0);
// The 9-byte form audio-class interfaces use (bRefresh, bSynchAddress).
Bytes AudioEndpoint(uint8_t address, uint8_t attributes, uint16_t maxPacketSize,
                    uint8_t interval = 1, uint8_t synchAddress = 0);

// Audio control interface's class-specific header for the streaming
// interfaces in its collection.
Bytes AudioControlHeader(std::initializer_list<uint8_t> streamingInterfaces);
// Audio streaming alternate setting's class-specific descriptors: general
// (PCM) and a type I format with a list of sampling frequencies.
Bytes AudioStreamingFormat(uint8_t terminalLink, uint8_t channels, uint8_t subframeBytes,
                           uint8_t bits, std::initializer_list<uint32_t> sampleRates);
// The audio class 2.0 form (interface protocol 0x20): the channels in the
// general descriptor, the slot layout in the type I format descriptor, and
// no rates (a clock entity owns them).
Bytes AudioStreamingFormat2(uint8_t terminalLink, uint8_t channels, uint8_t subslotBytes, uint8_t bits);
constexpr uint8_t kAudioClass2Protocol = 0x20;
// Class-specific isochronous endpoint descriptor with a sampling frequency
// control.
Bytes AudioStreamingEndpoint();

// A whole MIDI streaming interface (alternate setting 0): header, jacks, and
// a bulk OUT and a bulk IN endpoint each followed by its MS_GENERAL
// descriptor naming outJacks / inJacks embedded jacks.
Bytes MidiStreamingInterface(uint8_t number, uint8_t outJacks, uint8_t inJacks, uint8_t outEndpoint,
                             uint8_t inEndpoint);
// MS_GENERAL class-specific endpoint descriptor.
Bytes MidiStreamingGeneral(const Bytes& jackIds);

// Manufacturer "Marvolan", the product name, and the language list.
std::map<uint8_t, Bytes> MarvolanStrings(std::u16string_view product);

}  // namespace hardware
