// A booted virtual machine for user-mode tests: the driver loaded, one
// device plugged, and the audio interfaces SetupAPI reports.
#pragma once

#include <windows.h>
#include <ks.h>
#include <ksmedia.h>
#include <setupapi.h>

#include "testmachine.h"
#include "um/virtualmachine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace umtest {

// Hardware products of the Marvolan range the tests plug.
constexpr uint16_t kAudioMidiProduct = 0x10;
constexpr uint16_t kRawMidiProduct = 0x0A;

// Paths of the present KSCATEGORY_AUDIO interfaces, as SetupAPI lists them.
inline std::vector<std::string> AudioInterfacePaths()
{
    std::vector<std::string> paths;
    HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &KSCATEGORY_AUDIO, i, &data)) break;
        ULONGLONG storage[64];
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(storage);
        detail->cbSize = sizeof(void*) == 8 ? 8 : 5;
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof storage, NULL, NULL)) {
            paths.push_back(detail->DevicePath);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// A text value of a key; "<no key>" or "<none>" when it is not there.
inline std::string RegistryText(HKEY root, const std::string& path, const char* name)
{
    char text[256] = {};
    DWORD size = sizeof text - 1;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    const LONG result = RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? text : "<none>";
}

// A text value of the device node
// (HKLM\SYSTEM\CurrentControlSet\Enum\<instance id>); "<no node>" or
// "<none>" when it is not there.
inline std::string DeviceNodeText(const std::string& instanceId, const char* name)
{
    std::string text = RegistryText(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId, name);
    return text == "<no key>" ? "<no node>" : text;
}

// The device interface opened for overlapped I/O, as streaming clients do.
inline HANDLE OpenOverlapped(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
}

// A pin on the scripted filter's MIDI sink (pin 0) through ksuser's
// KsCreatePin; the Win32 error it returns.
inline DWORD CreateScriptedMidiPin(HANDLE filter, HANDLE* pin)
{
    using KsCreatePinRoutine = DWORD(WINAPI*)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);
    HMODULE ksuser = LoadLibraryA("ksuser.dll");
    if (!ksuser) return GetLastError();
    auto create = reinterpret_cast<KsCreatePinRoutine>(reinterpret_cast<void*>(GetProcAddress(ksuser, "KsCreatePin")));
    struct {
        KSPIN_CONNECT connect;
        KSDATAFORMAT format;
    } request{};
    request.connect.Interface.Set = KSINTERFACESETID_Standard;
    request.connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    request.connect.Medium.Set = KSMEDIUMSETID_Standard;
    request.connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    request.connect.PinId = 0;
    request.connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    request.connect.Priority.PrioritySubClass = 1;
    request.format.FormatSize = sizeof(KSDATAFORMAT);
    request.format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    request.format.SubFormat = KSDATAFORMAT_SUBTYPE_MIDI;
    request.format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    DWORD error = create ? create(filter, &request.connect, GENERIC_WRITE, pin) : DWORD(ERROR_PROC_NOT_FOUND);
    FreeLibrary(ksuser);
    return error;
}

// KSPROPERTY_CONNECTION_STATE set synchronously; DeviceIoControl's result.
inline BOOL SetPinState(HANDLE pin, KSSTATE state)
{
    KSPROPERTY property{};
    property.Set = KSPROPSETID_Connection;
    property.Id = KSPROPERTY_CONNECTION_STATE;
    property.Flags = KSPROPERTY_TYPE_SET;
    DWORD bytes = 0;
    return DeviceIoControl(pin, IOCTL_KS_PROPERTY, &property, sizeof property, &state, sizeof state, &bytes, NULL);
}

// The machine boots in the constructor and is torn down in the destructor;
// tests close their handles first.
class MachineTest : public ::testing::Test {
protected:
    // Boots with the shipped driver and plugs the product.
    void Boot(uint16_t productId) { BootWith(DriverEntryOfMrvUsbAudio(), NewProductDevice(productId)); }
    // Boots with the shipped driver and plugs the product with its audio
    // looped back.
    void BootLoopback(uint16_t productId, uint32_t delayFrames)
    {
        BootWith(DriverEntryOfMrvUsbAudio(), NewLoopbackDevice(productId, delayFrames));
    }
    // Boots with the scripted filter's driver on any device.
    void BootFake(const FakeFilterScenario& scenario)
    {
        SetFakeFilterScenario(scenario);
        BootWith(DriverEntryOfFakeFilter(), NewProductDevice(kAudioMidiProduct), "mrvfakefilter");
    }
    void BootWith(void* driverEntry, usbsim::VirtualDevice* device, const std::string& service = "mrvusbaudio")
    {
        m_machine = std::make_unique<umsim::VirtualMachine>(driverEntry, service);
        ASSERT_TRUE(m_machine->Booted()) << std::hex << m_machine->BootStatus();
        int32_t status = -1;
        m_slot = m_machine->Plug(device, &status);
        ASSERT_GE(status, 0) << std::hex << status;
        m_paths = AudioInterfacePaths();
        ASSERT_FALSE(m_paths.empty());
    }
    void TearDown() override { m_machine.reset(); }

    const std::string& FirstPath() const { return m_paths.front(); }

    std::unique_ptr<umsim::VirtualMachine> m_machine;
    int m_slot = -1;
    std::vector<std::string> m_paths;
};

}  // namespace umtest
