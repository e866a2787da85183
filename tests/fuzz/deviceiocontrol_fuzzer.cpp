// Drives DeviceIoControl on a filter handle and a pin handle of the driver
// from user mode with arbitrary control codes, buffer sizes and contents.
// Pointers inside stream headers and event records are pointed at memory
// this program owns (the I/O manager's probe would refuse anything else);
// every other byte is the fuzzer's. Verifier findings other than the
// fuzzer's own bogus handles abort.
//
// Input, repeated: target (1 byte: bit 0 pin, bit 1 a known KS code),
// code (4), input length (2), output length (2), then input bytes.
#include <windows.h>
#include <ks.h>
#include <ksmedia.h>
#include <setupapi.h>

#include "fuzzinput.h"
#include "testmachine.h"
#include "um/umverifier.h"
#include "um/virtualmachine.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kKsCodes[] = {IOCTL_KS_PROPERTY,     IOCTL_KS_ENABLE_EVENT, IOCTL_KS_DISABLE_EVENT,
                                 IOCTL_KS_METHOD,       IOCTL_KS_WRITE_STREAM, IOCTL_KS_READ_STREAM,
                                 IOCTL_KS_RESET_STATE};

typedef DWORD(WINAPI* KsCreatePinRoutine)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

struct Machine {
    umsim::VirtualMachine vm{umtest::DriverEntryOfMrvUsbAudio()};
    umsim::ViolationCapture violations;
    HANDLE filter = INVALID_HANDLE_VALUE;
    HANDLE pin = INVALID_HANDLE_VALUE;
    HANDLE event = NULL;
    std::vector<uint8_t> streamData = std::vector<uint8_t>(4096);

    Machine()
    {
        vm.Plug(umtest::NewLoopbackDevice(0x10, 2));
        vm.StartClock(false);  // state changes wait for transfers in flight
        HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        ULONGLONG storage[64];
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(storage);
        detail->cbSize = sizeof(void*) == 8 ? 8 : 5;
        for (DWORD i = 0; filter == INVALID_HANDLE_VALUE || pin == INVALID_HANDLE_VALUE; ++i) {
            if (!SetupDiEnumDeviceInterfaces(set, NULL, &KSCATEGORY_AUDIO, i, &data)) break;
            if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof storage, NULL, NULL)) continue;
            if (filter != INVALID_HANDLE_VALUE) CloseHandle(filter);
            filter = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
            pin = OpenAnyPin();
        }
        SetupDiDestroyDeviceInfoList(set);
        event = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (filter == INVALID_HANDLE_VALUE) abort();
    }

    // The first pin of the filter that takes 16-bit stereo PCM at 48 kHz.
    HANDLE OpenAnyPin()
    {
        HMODULE ksuser = LoadLibraryA("ksuser.dll");
        auto create = reinterpret_cast<KsCreatePinRoutine>(
            reinterpret_cast<void (*)()>(GetProcAddress(ksuser, "KsCreatePin")));
        struct {
            KSPIN_CONNECT connect;
            KSDATAFORMAT_WAVEFORMATEX format;
        } request{};
        request.connect.Interface.Set = KSINTERFACESETID_Standard;
        request.connect.Medium.Set = KSMEDIUMSETID_Standard;
        request.connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
        request.connect.Priority.PrioritySubClass = 1;
        request.format.DataFormat.FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
        request.format.DataFormat.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
        request.format.DataFormat.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
        request.format.DataFormat.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
        request.format.WaveFormatEx = {WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};
        HANDLE opened = INVALID_HANDLE_VALUE;
        for (ULONG id = 0; id < 8 && opened == INVALID_HANDLE_VALUE; ++id) {
            request.connect.PinId = id;
            if (create(filter, &request.connect, GENERIC_READ | GENERIC_WRITE, &opened) != ERROR_SUCCESS) {
                opened = INVALID_HANDLE_VALUE;
            }
        }
        FreeLibrary(ksuser);
        return opened;
    }

    // Points what the driver would dereference at memory of ours.
    void MakePointersOurs(uint32_t code, std::vector<uint8_t>& output)
    {
        if ((code == IOCTL_KS_WRITE_STREAM || code == IOCTL_KS_READ_STREAM) && output.size() >= sizeof(KSSTREAM_HEADER)) {
            for (size_t at = 0; at + sizeof(KSSTREAM_HEADER) <= output.size(); at += sizeof(KSSTREAM_HEADER)) {
                KSSTREAM_HEADER header;
                memcpy(&header, &output[at], sizeof header);
                header.Data = streamData.data();
                header.FrameExtent %= ULONG(streamData.size() + 1);
                header.DataUsed %= header.FrameExtent + 1;
                memcpy(&output[at], &header, sizeof header);
            }
        }
        if ((code == IOCTL_KS_ENABLE_EVENT || code == IOCTL_KS_DISABLE_EVENT) && output.size() >= sizeof(KSEVENTDATA)) {
            KSEVENTDATA data;
            memcpy(&data, output.data(), sizeof data);
            data.NotificationType = KSEVENTF_EVENT_HANDLE;
            data.EventHandle.Event = event;
            memcpy(output.data(), &data, sizeof data);
        }
    }
};

Machine& TheMachine()
{
    static Machine* machine = new Machine;
    return *machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Machine& m = TheMachine();
    while (size >= 9) {
        uint8_t target = Take<uint8_t>(data, size);
        uint32_t code = Take<uint32_t>(data, size);
        uint16_t inputLength = Take<uint16_t>(data, size) % 4096;
        uint16_t outputLength = Take<uint16_t>(data, size) % 4096;
        if (target & 2) code = kKsCodes[code % (sizeof kKsCodes / sizeof kKsCodes[0])];
        HANDLE handle = (target & 1) && m.pin != INVALID_HANDLE_VALUE ? m.pin : m.filter;

        std::vector<uint8_t> input(inputLength), output(outputLength);
        size_t n = size < inputLength ? size : inputLength;
        if (n) memcpy(input.data(), data, n);
        data += n;
        size -= n;
        const size_t seed = input.size() < output.size() ? input.size() : output.size();
        if (seed) memcpy(output.data(), input.data(), seed);
        m.MakePointersOurs(code, output);

        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
        DWORD bytes = 0;
        if (!DeviceIoControl(handle, code, input.empty() ? NULL : input.data(), inputLength,
                             output.empty() ? NULL : output.data(), outputLength, &bytes, &overlapped) &&
            GetLastError() == ERROR_IO_PENDING) {
            // The buffers must outlive the request: cancel and wait for it.
            CancelIo(handle);
            GetOverlappedResult(handle, &overlapped, &bytes, TRUE);
        }
        CloseHandle(overlapped.hEvent);
        if (bytes > outputLength && (code & 3) != METHOD_NEITHER) abort();
    }
    for (const std::string& finding : m.violations.Messages()) {
        if (finding.rfind("handle:", 0) != 0) abort();
    }
    return 0;
}
