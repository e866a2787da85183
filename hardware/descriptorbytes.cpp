#include "hardware/descriptorbytes.h"

namespace hardware {

namespace {

uint8_t Lo(unsigned v) { return uint8_t(v & 0xFF); }
uint8_t Hi(unsigned v) { return uint8_t(v >> 8 & 0xFF); }

constexpr uint8_t kCsInterface = 0x24;
constexpr uint8_t kCsEndpoint = 0x25;

}  // namespace

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes DeviceDescriptor(uint16_t vendorId, uint16_t productId)
{
    return {
        18,                    // bLength
        0x01,                  // bDescriptorType: device
        0x10, 0x01,            // bcdUSB 1.10 (full speed)
        0x00,                  // bDeviceClass: per interface
        0x00,                  // bDeviceSubClass
        0x00,                  // bDeviceProtocol
        64,                    // bMaxPacketSize0
        Lo(vendorId), Hi(vendorId),    // idVendor
        Lo(productId), Hi(productId),  // idProduct
        0x00, 0x01,            // bcdDevice 1.00
        kManufacturerString,   // iManufacturer
        kProductString,        // iProduct
        0,                     // iSerialNumber: none
        1,                     // bNumConfigurations
    };
}

Bytes Configuration(uint8_t numInterfaces, std::initializer_list<Bytes> parts)
{
    Bytes all = {
        9,              // bLength
        0x02,           // bDescriptorType: configuration
        0, 0,           // wTotalLength: set below from the size of the whole set
        numInterfaces,  // bNumInterfaces
        1,              // bConfigurationValue
        0,              // iConfiguration
        0x80,           // bmAttributes: bus powered
        250,            // MaxPower: 500 mA
    };
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    all[2] = Lo(unsigned(all.size()));
    all[3] = Hi(unsigned(all.size()));
    return all;
}

Bytes Interface(uint8_t number, uint8_t alternateSetting, uint8_t numEndpoints, uint8_t interfaceClass,
                uint8_t subClass, uint8_t protocol)
{
    return {
        9,                 // bLength
        0x04,              // bDescriptorType: interface
        number,            // bInterfaceNumber
        alternateSetting,  // bAlternateSetting
        numEndpoints,      // bNumEndpoints
        interfaceClass,    // bInterfaceClass
        subClass,          // bInterfaceSubClass
        protocol,          // bInterfaceProtocol
        0,                 // iInterface
    };
}

Bytes Endpoint(uint8_t address, uint8_t attributes, uint16_t maxPacketSize, uint8_t interval)
{
    return {
        7,                                       // bLength
        0x05,                                    // bDescriptorType: endpoint
        address,                                 // bEndpointAddress (bit 7: IN)
        attributes,                              // bmAttributes (bits 0-1: transfer type)
        Lo(maxPacketSize), Hi(maxPacketSize),    // wMaxPacketSize
        interval,                                // bInterval
    };
}

Bytes AudioEndpoint(uint8_t address, uint8_t attributes, uint16_t maxPacketSize, uint8_t interval,
                    uint8_t synchAddress)
{
    return {
        9,                                       // bLength
        0x05,                                    // bDescriptorType: endpoint
        address,                                 // bEndpointAddress
        attributes,                              // bmAttributes
        Lo(maxPacketSize), Hi(maxPacketSize),    // wMaxPacketSize
        interval,                                // bInterval
        0,                                       // bRefresh
        synchAddress,                            // bSynchAddress
    };
}

Bytes AudioControlHeader(std::initializer_list<uint8_t> streamingInterfaces)
{
    const auto length = uint8_t(8 + streamingInterfaces.size());
    Bytes d = {
        length,          // bLength
        kCsInterface,    // bDescriptorType: CS_INTERFACE
        0x01,            // bDescriptorSubtype: HEADER
        0x00, 0x01,      // bcdADC 1.00
        length, 0,       // wTotalLength of the class-specific AC descriptors
        uint8_t(streamingInterfaces.size()),  // bInCollection
    };
    for (uint8_t number : streamingInterfaces) d.push_back(number);  // baInterfaceNr(1..n)
    return d;
}

Bytes AudioStreamingFormat(uint8_t terminalLink, uint8_t channels, uint8_t subframeBytes,
                           uint8_t bits, std::initializer_list<uint32_t> sampleRates)
{
    Bytes d = {
        7,               // bLength
        kCsInterface,    // bDescriptorType: CS_INTERFACE
        0x01,            // bDescriptorSubtype: AS_GENERAL
        terminalLink,    // bTerminalLink
        1,               // bDelay
        0x01, 0x00,      // wFormatTag: PCM
        // ----
        uint8_t(8 + 3 * sampleRates.size()),  // bLength
        kCsInterface,    // bDescriptorType: CS_INTERFACE
        0x02,            // bDescriptorSubtype: FORMAT_TYPE
        0x01,            // bFormatType: FORMAT_TYPE_I
        channels,        // bNrChannels
        subframeBytes,   // bSubframeSize
        bits,            // bBitResolution
        uint8_t(sampleRates.size()),  // bSamFreqType: discrete rates
    };
    for (uint32_t rate : sampleRates) {
        d.push_back(uint8_t(rate));  // tSamFreq[n], 24-bit little-endian
        d.push_back(uint8_t(rate >> 8));
        d.push_back(uint8_t(rate >> 16));
    }
    return d;
}

Bytes AudioStreamingFormat2(uint8_t terminalLink, uint8_t channels, uint8_t subslotBytes, uint8_t bits)
{
    return {
        16,              // bLength
        kCsInterface,    // bDescriptorType: CS_INTERFACE
        0x01,            // bDescriptorSubtype: AS_GENERAL
        terminalLink,    // bTerminalLink
        0x00,            // bmControls
        0x01,            // bFormatType: FORMAT_TYPE_I
        0x01, 0, 0, 0,   // bmFormats: PCM
        channels,        // bNrChannels
        0, 0, 0, 0,      // bmChannelConfig: no spatial positions
        0,               // iChannelNames
        // ----
        6,               // bLength
        kCsInterface,    // bDescriptorType: CS_INTERFACE
        0x02,            // bDescriptorSubtype: FORMAT_TYPE
        0x01,            // bFormatType: FORMAT_TYPE_I
        subslotBytes,    // bSubslotSize
        bits,            // bBitResolution
    };
}

Bytes AudioStreamingEndpoint()
{
    return {
        7,             // bLength
        kCsEndpoint,   // bDescriptorType: CS_ENDPOINT
        0x01,          // bDescriptorSubtype: EP_GENERAL
        0x01,          // bmAttributes: sampling frequency control
        0,             // bLockDelayUnits
        0, 0,          // wLockDelay
    };
}

Bytes MidiStreamingGeneral(const Bytes& jackIds)
{
    Bytes d = {
        uint8_t(4 + jackIds.size()),  // bLength
        kCsEndpoint,                  // bDescriptorType: CS_ENDPOINT
        0x01,                         // bDescriptorSubtype: MS_GENERAL
        uint8_t(jackIds.size()),      // bNumEmbMIDIJack
    };
    for (uint8_t id : jackIds) d.push_back(id);  // baAssocJackID(1..n)
    return d;
}

Bytes MidiStreamingInterface(uint8_t number, uint8_t outJacks, uint8_t inJacks, uint8_t outEndpoint,
                             uint8_t inEndpoint)
{
    // Jack ids: OUT path = embedded IN jacks 1..o feeding external OUT jacks;
    // IN path = external IN jacks feeding embedded OUT jacks.
    Bytes jacks;
    Bytes outEmbedded, inEmbedded;
    uint8_t id = 1;
    for (uint8_t j = 0; j < outJacks; ++j) {
        const uint8_t embedded = id++, external = id++;
        outEmbedded.push_back(embedded);
        const Bytes pair = {
            6, kCsInterface, 0x02, 0x01, embedded, 0,  // MIDI_IN_JACK: embedded, bJackID, iJack
            9, kCsInterface, 0x03, 0x02, external,     // MIDI_OUT_JACK: external, bJackID
            1, embedded, 1, 0,                         // bNrInputPins, baSourceID, baSourcePin, iJack
        };
        jacks.insert(jacks.end(), pair.begin(), pair.end());
    }
    for (uint8_t j = 0; j < inJacks; ++j) {
        const uint8_t external = id++, embedded = id++;
        inEmbedded.push_back(embedded);
        const Bytes pair = {
            6, kCsInterface, 0x02, 0x02, external, 0,  // MIDI_IN_JACK: external, bJackID, iJack
            9, kCsInterface, 0x03, 0x01, embedded,     // MIDI_OUT_JACK: embedded, bJackID
            1, external, 1, 0,                         // bNrInputPins, baSourceID, baSourcePin, iJack
        };
        jacks.insert(jacks.end(), pair.begin(), pair.end());
    }
    const Bytes endpoints = Join({
        AudioEndpoint(outEndpoint, kBulk, 64, 0), MidiStreamingGeneral(outEmbedded),
        AudioEndpoint(inEndpoint, kBulk, 64, 0), MidiStreamingGeneral(inEmbedded),
    });
    const unsigned total = 7 + unsigned(jacks.size() + endpoints.size());
    const Bytes header = {
        7,               // bLength
        kCsInterface,    // bDescriptorType: CS_INTERFACE
        0x01,            // bDescriptorSubtype: MS_HEADER
        0x00, 0x01,      // bcdMSC 1.00
        Lo(total), Hi(total),  // wTotalLength of the class-specific MS descriptors
    };
    return Join({Interface(number, 0, 2, kClassAudio, kSubClassMidiStreaming), header, jacks, endpoints});
}

std::map<uint8_t, Bytes> MarvolanStrings(std::u16string_view product)
{
    return {
        {0, usbsim::MakeLanguageList({0x0409})},
        {kManufacturerString, usbsim::MakeStringDescriptor(u"Marvolan")},
        {kProductString, usbsim::MakeStringDescriptor(product)},
    };
}

}  // namespace hardware
