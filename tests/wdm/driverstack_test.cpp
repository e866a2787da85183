// The driver as the system and clients see it: loaded by the PnP manager,
// publishing its filter, answering property and event requests, and
// creating audio pins under the device-wide rate and format rules.
#include "devicesettings.h"
#include "devicesettingsclient.h"
#include "drivertestbed.h"

#include <cstring>

namespace {

std::u16string ReadInterfaceString(const std::u16string& link, const char16_t* valueName)
{
    UNICODE_STRING name{USHORT(link.size() * 2), USHORT(link.size() * 2), const_cast<PWSTR>(link.c_str())};
    HANDLE key = nullptr;
    if (!NT_SUCCESS(IoOpenDeviceInterfaceRegistryKey(&name, KEY_READ, &key))) return u"<no key>";
    UNICODE_STRING value;
    RtlInitUnicodeString(&value, valueName);
    alignas(8) UCHAR buffer[600] = {};
    ULONG returned = 0;
    NTSTATUS status = ZwQueryValueKey(key, &value, KeyValuePartialInformation, buffer, sizeof(buffer), &returned);
    ZwClose(key);
    if (!NT_SUCCESS(status)) return u"<none>";
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    return std::u16string(reinterpret_cast<const char16_t*>(info->Data));
}

// The pin-name property: the text and the byte count reported.
struct PinName {
    NTSTATUS status;
    std::u16string text;
    ULONG_PTR bytes;
};

PinName ReadPinName(kmsim::KsClientHandle* filter, ULONG pin, ULONG bufferBytes = 512)
{
    std::vector<char16_t> buffer(bufferBytes / 2 + 1, 0);
    ULONG_PTR returned = 0;
    NTSTATUS status = filter->PinProperty(pin, KSPROPERTY_PIN_NAME, buffer.data(), bufferBytes, &returned);
    return {status, std::u16string(buffer.data()), returned};
}

TEST(DriverStack, PublishesOneFilterInThreeCategoriesNamedAfterTheProduct)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    for (const GUID* category : {&KSCATEGORY_AUDIO, &KSCATEGORY_RENDER, &KSCATEGORY_CAPTURE}) {
        auto interfaces = bed.Interfaces(*category);
        ASSERT_EQ(interfaces.size(), 1u);
        EXPECT_EQ(interfaces[0].reference, u"GLOBAL");
    }
    // The name goes to the interface of the factory's link, the first
    // category's.
    EXPECT_EQ(ReadInterfaceString(bed.Interfaces(KSCATEGORY_AUDIO)[0].symbolicLink, u"FriendlyName"),
              u"Marvolan Fluxa 4");
    EXPECT_NE(bed.OpenFilter(), nullptr);
}

TEST(DriverStack, AProductStringIsCutToThirtyOneCharacters)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::ProductStringOfLength(82)), STATUS_SUCCESS);
    auto interfaces = bed.Interfaces(KSCATEGORY_AUDIO);
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(ReadInterfaceString(interfaces[0].symbolicLink, u"FriendlyName").size(), 31u);
}

TEST(DriverStack, ADeviceWithoutAProductStringStillHasItsFilter)
{
    usbsim::DescriptorSet set = hardware::DescriptorsFor(hardware::kAudioMidi);
    set.strings.erase(hardware::kProductString);
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(std::move(set)), STATUS_SUCCESS);
    auto interfaces = bed.Interfaces(KSCATEGORY_AUDIO);
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(ReadInterfaceString(interfaces[0].symbolicLink, u"FriendlyName"), u"<none>");
    EXPECT_NE(bed.OpenFilter(), nullptr);
}

TEST(DriverStack, NoBandwidthLeavesTheDeviceWithoutAFilterAndSaysSo)
{
    DriverTestBed bed;
    NTSTATUS status = bed.Plug(hardware::MakeDevice(hardware::kAudioMidi),
                               [](usbsim::BusDevice& usb) { usb.RejectAlternateSetting(0, 1); });
    EXPECT_EQ(status, NTSTATUS(USBD_STATUS_NO_BANDWIDTH));
    EXPECT_NE(kmsim::DebugOutput().find("mrvusbaudio.sys : Enumerate() failed with error USBD_STATUS_NO_BANDWIDTH\n"),
              std::string::npos);
    EXPECT_TRUE(bed.Interfaces(KSCATEGORY_AUDIO).empty());
}

TEST(DriverStack, AUrbSizeOfTheWrongTypeIsIgnored)
{
    DriverTestBed bed;
    kmsim::SetString(DriverTestBed::kDriverKey, "UrbSize", "20");
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    EXPECT_EQ(GetUrbSize(bed.OpenFilter()), 10u);
}

TEST(DriverStack, UrbSizeIsReadFromTheDeviceKeyAndWrittenBack)
{
    DriverTestBed bed;
    kmsim::SetDword(DriverTestBed::kDriverKey, "UrbSize", 4);
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    EXPECT_EQ(GetUrbSize(filter), 4u);
    EXPECT_EQ(SetUrbSize(filter, 6), STATUS_SUCCESS);
    EXPECT_EQ(GetUrbSize(filter), 6u);
    EXPECT_EQ(kmsim::GetDword(DriverTestBed::kDriverKey, "UrbSize"), 6u);
}

TEST(DriverStack, AUrbSizeNoStreamCanUseIsRefused)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    EXPECT_EQ(SetUrbSize(filter, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(SetUrbSize(filter, 256), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(GetUrbSize(filter), 10u);
}

TEST(DriverStack, ChangingUrbSizeSignalsEveryClientAndTheSameValueSignalsNone)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    kmsim::KsClientHandle* first = bed.OpenFilter();
    kmsim::KsClientHandle* second = bed.OpenFilter();
    KEVENT events[2];
    KSEVENTDATA data[2] = {};
    kmsim::KsClientHandle* clients[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        KeInitializeEvent(&events[i], NotificationEvent, FALSE);
        data[i].NotificationType = KSEVENTF_EVENT_HANDLE;
        data[i].EventHandle.Event = &events[i];
        ASSERT_EQ(clients[i]->EnableEvent(KSEVENTSETID_DeviceSettings, KSEVENT_DEVICESETTINGS_CHANGED, &data[i]),
                  STATUS_SUCCESS);
    }
    ASSERT_EQ(SetUrbSize(first, 10), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&events[0]), 0);
    ASSERT_EQ(SetUrbSize(first, 5), STATUS_SUCCESS);
    EXPECT_NE(KeReadStateEvent(&events[0]), 0);
    EXPECT_NE(KeReadStateEvent(&events[1]), 0);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(clients[i]->DisableEvent(&data[i]), STATUS_SUCCESS);
}

TEST(DriverStack, AMidiOnlyDeviceHasNoSettingsPropertyButTheSettingsEvent)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kRunningStatusMidi), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ULONG access = 0;
    EXPECT_FALSE(NT_SUCCESS(filter->Property(KSPROPSETID_DeviceSettings, 0, KSPROPERTY_TYPE_BASICSUPPORT, &access,
                                             sizeof(access))));
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    KSEVENTDATA data{};
    data.NotificationType = KSEVENTF_EVENT_HANDLE;
    data.EventHandle.Event = &event;
    EXPECT_EQ(filter->EnableEvent(KSEVENTSETID_DeviceSettings, KSEVENT_DEVICESETTINGS_CHANGED, &data), STATUS_SUCCESS);
    EXPECT_EQ(filter->DisableEvent(&data), STATUS_SUCCESS);
}

TEST(DriverStack, TheServiceParameterShowsKinetraPortsOverADeviceValueOfZero)
{
    DriverTestBed bed;
    kmsim::SetDword(DriverTestBed::kServiceParameters, "DontHideKinetraPorts", 1);
    kmsim::SetDword(DriverTestBed::kDriverKey, "DontHideKinetraPorts", 0);
    ASSERT_EQ(bed.Plug(hardware::kClassMidiMedium), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    // 0x0C: one class port each way, then the Kinetra pair at pins 4 and 6.
    KSMULTIPLE_ITEM header{};
    alignas(8) UCHAR ranges[512];
    ULONG_PTR returned = 0;
    ASSERT_EQ(filter->PinProperty(4, KSPROPERTY_PIN_DATARANGES, ranges, sizeof(ranges), &returned), STATUS_SUCCESS);
    std::memcpy(&header, ranges, sizeof(header));
    ASSERT_EQ(header.Count, 1u);
    auto* range = reinterpret_cast<const KSDATARANGE*>(ranges + sizeof(KSMULTIPLE_ITEM));
    EXPECT_TRUE(IsEqualGUID(range->SubFormat, KSDATAFORMAT_SUBTYPE_MIDI));
}

TEST(DriverStack, TheUnloadWrapperUnloadsOnce)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Load(), STATUS_SUCCESS);
    PDRIVER_UNLOAD unload = bed.Driver()->DriverUnload;
    ASSERT_NE(unload, nullptr);
    unload(bed.Driver());
    unload(bed.Driver());
}

TEST(DriverStack, CapabilitiesAllowSurpriseRemoval)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    DEVICE_CAPABILITIES capabilities{};
    ASSERT_EQ(kmsim::QueryDeviceCapabilities(bed.Pdo(), &capabilities), STATUS_SUCCESS);
    EXPECT_TRUE(capabilities.SurpriseRemovalOK);
}

// ---- Pin names ----

TEST(PinNames, SeveralPortsInADirectionNameEveryMidiPinAfterItsCable)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kClassMidiSmall), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    // 0x0B: class out cables 0 and 1 (pins 0, 2), in cables 0 and 1 (pins 4,
    // 6), then the hidden Kinetra ports on cable 2 (pins 8, 10).
    EXPECT_EQ(ReadPinName(filter, 0).text, u"Marvolan Kinetra 25: Port 1");
    EXPECT_EQ(ReadPinName(filter, 2).text, u"Marvolan Kinetra 25: Port 2");
    EXPECT_EQ(ReadPinName(filter, 6).text, u"Marvolan Kinetra 25: Port 2");
    PinName hidden = ReadPinName(filter, 8);
    EXPECT_EQ(hidden.status, STATUS_SUCCESS);
    EXPECT_EQ(hidden.text, u"Marvolan Kinetra 25: Port 3");
    EXPECT_EQ(hidden.bytes, (hidden.text.size() + 1) * 2);
}

TEST(PinNames, OnePortPerDirectionGivesNoName)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kRunningStatusMidi), STATUS_SUCCESS);
    PinName name = ReadPinName(bed.OpenFilter(), 0);
    EXPECT_EQ(name.status, STATUS_SUCCESS);
    EXPECT_EQ(name.bytes, 0u);
}

TEST(PinNames, ATooSmallBufferGetsTheTextCutAndTheSizeNeeded)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kClassMidiSmall), STATUS_SUCCESS);
    PinName name = ReadPinName(bed.OpenFilter(), 0, 16);
    EXPECT_EQ(name.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(name.text, u"Marvolan");
    EXPECT_EQ(name.bytes, (std::u16string(u"Marvolan Kinetra 25: Port 1").size() + 1) * 2);
}

}  // namespace
