// Drives the ASIO driver as a host would, from what a user's registry and a
// host hand it: the settings values with any type, length and contents,
// then getChannelInfo and createBuffers with arbitrary arguments; buffers
// that are accepted are streamed for a few switches and disposed. The
// driver is created by CLSID through COM on the kernel driver's filters in
// the virtual machine, and released after every input.
//
// Input: six settings values, each: type (1 byte: 0 absent, 1 REG_DWORD,
// 2 REG_SZ, 3 REG_BINARY), length (1), bytes; then, repeated:
// getChannelInfo (tag 0: channel 4, isInput 1) or createBuffers (tag 1:
// count 1, size choice 1, size 4, then count entries of isInput 1 and
// channel 4, at most 16).
#include <windows.h>
#include <objbase.h>

#include "asiointerface.h"
#include "fuzzeroptions.h"
#include "fuzzinput.h"
#include "testmachine.h"
#include "um/debugoutput.h"
#include "um/umverifier.h"
#include "um/virtualmachine.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const CLSID kDriverClsid = {0x7B0ADD43, 0xB53F, 0x4C06, {0xA7, 0xF1, 0x45, 0x05, 0x04, 0x1A, 0xC6, 0x45}};
constexpr char kSettingsKey[] = "software\\marvolan\\mrvusbaudio";
constexpr const char* kValues[] = {"SampleRate", "SampleFormat", "NumKsPackets", "BufferSwitchDirect", "FilterPath",
                                   "DebugTrace"};

std::atomic<int> g_switches{0};

struct Machine {
    umsim::VirtualMachine vm{umtest::DriverEntryOfMrvUsbAudio()};
    umsim::ViolationCapture violations;

    Machine()
    {
        vm.Plug(umtest::NewLoopbackDevice(0x10, 2));
        vm.StartClock(false);
        for (auto [root, path] : {std::pair{HKEY_CLASSES_ROOT, "CLSID"}, std::pair{HKEY_LOCAL_MACHINE, "SOFTWARE"}}) {
            HKEY key = NULL;
            RegCreateKeyExA(root, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
            RegCloseKey(key);
        }
        if (CoInitialize(NULL) != S_OK) abort();
        HMODULE module = LoadLibraryA(MRV_ASIO_MODULE);
        auto registerServer =
            reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
        if (!registerServer || registerServer() != S_OK) abort();
        // The module stays loaded for the whole run: the coverage counters
        // the fuzzer registered live in its image, and COM's unloading of it
        // after an input would unmap them under the fuzzer.
    }
};

void WriteSettings(const uint8_t*& data, size_t& size)
{
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS) {
        abort();
    }
    for (const char* name : kValues) {
        const uint8_t type = Take<uint8_t>(data, size) % 4;
        const size_t length = Take<uint8_t>(data, size) % (size + 1);
        RegDeleteValueA(key, name);
        static constexpr DWORD kTypes[] = {REG_NONE, REG_DWORD, REG_SZ, REG_BINARY};
        // A DWORD value is four bytes by the registry's own rule.
        if (type == 1 && length != sizeof(DWORD)) {
            DWORD value = 0;
            memcpy(&value, data, length < 4 ? length : 4);
            RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        } else if (type != 0) {
            RegSetValueExA(key, name, 0, kTypes[type], data, DWORD(length));
        }
        data += length;
        size -= length;
    }
    RegCloseKey(key);
}

void BufferSwitch(LONG, ASIOBool) { ++g_switches; }
ASIOTime* BufferSwitchTimeInfo(ASIOTime* time, LONG, ASIOBool)
{
    ++g_switches;
    return time;
}
LONG Message(LONG selector, LONG, void*, double*) { return selector == kAsioSupportsTimeInfo; }

void Stream(IASIO* driver)
{
    g_switches = 0;
    if (driver->start() != ASE_OK) return;
    for (int waited = 0; g_switches < 3 && waited < 2000; ++waited) Sleep(1);
    driver->stop();
}

void Drive(IASIO* driver, const uint8_t* data, size_t size)
{
    ASIOCallbacks callbacks{BufferSwitch, [](ASIOSampleRate) {}, Message, BufferSwitchTimeInfo};
    LONG preferred = 0, ignored = 0;
    driver->getBufferSize(&ignored, &ignored, &preferred, &ignored);
    while (size > 0) {
        if (Take<uint8_t>(data, size) % 2 == 0) {
            ASIOChannelInfo info{};
            info.channel = Take<LONG>(data, size);
            info.isInput = Take<uint8_t>(data, size);
            driver->getChannelInfo(&info);
            continue;
        }
        const LONG count = LONG(Take<uint8_t>(data, size) % 17);
        const bool theDriversSize = Take<uint8_t>(data, size) % 2 == 0;
        const LONG asked = Take<LONG>(data, size);
        std::vector<ASIOBufferInfo> infos(size_t(count) + 1);
        for (LONG i = 0; i < count; ++i) {
            infos[size_t(i)].isInput = Take<uint8_t>(data, size);
            infos[size_t(i)].channelNum = Take<LONG>(data, size);
        }
        if (driver->createBuffers(infos.data(), count, theDriversSize ? preferred : asked, &callbacks) == ASE_OK) {
            for (LONG i = 0; i < count; ++i) {
                // What a host then writes into: every buffer it was given
                // must be one of bufferSize samples.
                if (!infos[size_t(i)].buffers[0] || !infos[size_t(i)].buffers[1]) abort();
                memset(infos[size_t(i)].buffers[0], 0x5A, size_t(preferred) * 2);
            }
            Stream(driver);
            driver->disposeBuffers();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    DisablePerInputLeakScan(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Machine* machine = new Machine;
    WriteSettings(data, size);
    IASIO* driver = nullptr;
    if (FAILED(CoCreateInstance(kDriverClsid, NULL, CLSCTX_INPROC_SERVER, kDriverClsid,
                                reinterpret_cast<void**>(&driver)))) {
        abort();
    }
    if (driver->init(nullptr) == ASIOTrue) Drive(driver, data, size);
    driver->Release();
    CoFreeUnusedLibraries();
    umsim::TakeDebugOutput();
    // A verifier finding is a fault like a crash: say what it was and stop.
    for (const std::string& finding : machine->violations.Messages()) {
        fprintf(stderr, "verifier: %s\n", finding.c_str());
        abort();
    }
    return 0;
}
