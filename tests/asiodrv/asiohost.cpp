#include "asiohost.h"

#include "ksfilter.h"
#include "kstrace.h"
#include "prefs.h"

#include "devicesettingsids.h"

#include <algorithm>

namespace asiotest {

namespace {

void Record(LONG index, unsigned long long position, unsigned long long systemTime)
{
    HostLog& log = Log();
    if (log.disposed) ++log.lateCallbacks;
    if (log.work) log.work(index);
    {
        std::lock_guard lock(log.mutex);
        log.switches.push_back(index);
        log.positions.push_back(position);
        log.systemTimes.push_back(systemTime);
    }
    log.changed.notify_all();
}

unsigned long long Join64(ULONG hi, ULONG lo) { return (unsigned long long)hi << 32 | lo; }

void BufferSwitch(LONG index, ASIOBool)
{
    ASIOSamples position{};
    ASIOTimeStamp time{};
    CurrentDriver()->getSamplePosition(&position, &time);
    Record(index, Join64(position.hi, position.lo), Join64(time.hi, time.lo));
}

ASIOTime* BufferSwitchTimeInfo(ASIOTime* params, LONG index, ASIOBool)
{
    Record(index, Join64(params->timeInfo.samplePosition.hi, params->timeInfo.samplePosition.lo),
           Join64(params->timeInfo.systemTime.hi, params->timeInfo.systemTime.lo));
    return nullptr;
}

void SampleRateDidChange(ASIOSampleRate) {}

LONG AsioMessage(LONG selector, LONG value, void*, double*)
{
    HostLog& log = Log();
    if (log.disposed) ++log.lateCallbacks;
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioResetRequest || value == kAsioSupportsTimeInfo || value == kAsioOverload;
    case kAsioEngineVersion:
        return 2;
    case kAsioSupportsTimeInfo:
        return log.supportsTimeInfo;
    }
    {
        std::lock_guard lock(log.mutex);
        log.messages.push_back(selector);
    }
    log.changed.notify_all();
    return 1;
}

struct TraceLines {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
};
TraceLines& Traced()
{
    static TraceLines traced;
    return traced;
}

template <class Routine>
Routine Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Routine>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

HostLog& Log()
{
    static HostLog log;
    return log;
}

ASIOCallbacks* HostCallbacks()
{
    static ASIOCallbacks callbacks{BufferSwitch, SampleRateDidChange, AsioMessage, BufferSwitchTimeInfo};
    return &callbacks;
}

IASIO*& CurrentDriver()
{
    static IASIO* driver = nullptr;
    return driver;
}

ModuleTrace::ModuleTrace(LONG threshold) : m_module(LoadLibraryA(MRV_ASIO_MODULE))
{
    {
        std::lock_guard lock(Traced().mutex);
        Traced().lines.clear();
    }
    Export<void (*)(LONG)>(m_module, "KsSetTraceThreshold")(threshold);
    Export<void (*)(PFNKSTRACESINK)>(m_module, "KsSetTraceSink")([](const char* text) {
        {
            std::lock_guard lock(Traced().mutex);
            Traced().lines.push_back(text);
        }
        Traced().changed.notify_all();
    });
}

ModuleTrace::~ModuleTrace()
{
    Export<void (*)(PFNKSTRACESINK)>(m_module, "KsSetTraceSink")(nullptr);
    Export<void (*)(LONG)>(m_module, "KsSetTraceThreshold")(0);
    FreeLibrary(m_module);
}

bool ModuleTrace::Has(const std::string& line) const
{
    std::lock_guard lock(Traced().mutex);
    return std::count(Traced().lines.begin(), Traced().lines.end(), line) > 0;
}

bool ModuleTrace::WaitFor(const std::string& line) const
{
    std::unique_lock lock(Traced().mutex);
    return Traced().changed.wait_for(lock, std::chrono::seconds(60), [&] {
        return std::count(Traced().lines.begin(), Traced().lines.end(), line) > 0;
    });
}

void DeleteKeyTree(HKEY root, const std::string& path)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char child[MAX_PATH];
    std::vector<std::string> children;
    for (DWORD i = 0; RegEnumKeyA(key, i, child, sizeof child) == ERROR_SUCCESS; ++i) children.push_back(child);
    RegCloseKey(key);
    for (const std::string& name : children) DeleteKeyTree(root, path + "\\" + name);
    RegDeleteKeyA(root, path.c_str());
}

std::string ReadString(HKEY root, const std::string& path, const char* value)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char text[512] = {};
    DWORD type = 0, size = sizeof text - 1;
    LSTATUS status = RegQueryValueExA(key, value, NULL, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(text) : "<no value>";
}

void AsioTest::SetUp()
{
    umsim::ResetDesktop();
    DeleteKeyTree(HKEY_CURRENT_USER, kPrefsKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO");
    DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\{7B0ADD43-B53F-4C06-A7F1-4505041AC645}");
    {
        HostLog& log = Log();
        std::lock_guard lock(log.mutex);
        log.switches.clear();
        log.positions.clear();
        log.systemTimes.clear();
        log.messages.clear();
        log.supportsTimeInfo = false;
        log.work = nullptr;
        log.disposed = false;
        log.lateCallbacks = 0;
    }
    // Keys every Windows installation has.
    for (auto [root, path] : {std::pair{HKEY_CLASSES_ROOT, "CLSID"}, std::pair{HKEY_LOCAL_MACHINE, "SOFTWARE"}}) {
        HKEY key = NULL;
        ASSERT_EQ(RegCreateKeyExA(root, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ASSERT_EQ(CoInitialize(NULL), S_OK);
    m_module = LoadLibraryA(MRV_ASIO_MODULE);
    ASSERT_NE(m_module, nullptr);
    auto registerServer = Export<HRESULT (*)()>(m_module, "DllRegisterServer");
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    umsim::TakeDebugOutput();
}

void AsioTest::TearDown()
{
    ReleaseDriver();
    if (m_module) FreeLibrary(m_module);
    CoFreeUnusedLibraries();
    CoUninitialize();
    MachineTest::TearDown();
}

void AsioTest::SetPref(const char* name, DWORD value)
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPrefsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

void AsioTest::SetPrefString(const char* name, const char* value)
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPrefsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD(strlen(value) + 1));
    RegCloseKey(key);
}

void AsioTest::SetUrbSizeAsAnotherClient(ULONG ms)
{
    HRESULT hr = E_FAIL;
    CKsFilter filter(FirstPath().c_str(), &hr);
    ASSERT_EQ(filter.Instantiate(), S_OK);
    ASSERT_EQ(filter.SetPropertySimple(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, &ms, sizeof ms),
              S_OK);
}

IASIO* AsioTest::Create()
{
    IASIO* asio = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MrvUsbAsio, NULL, CLSCTX_INPROC_SERVER, CLSID_MrvUsbAsio,
                               reinterpret_cast<void**>(&asio)),
              S_OK);
    m_asio = asio;
    CurrentDriver() = asio;
    return asio;
}

IASIO* AsioTest::CreateAndInit()
{
    // An existing settings key keeps init from opening the control panel.
    HKEY key = NULL;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPrefsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
    IASIO* asio = Create();
    EXPECT_EQ(asio->init(NULL), ASIOTrue);
    return asio;
}

void AsioTest::StartAllChannels(IASIO* asio, std::vector<ASIOBufferInfo>& infos, LONG& bufferSize)
{
    LONG inputs = 0, outputs = 0, ignored = 0;
    ASSERT_EQ(asio->getChannels(&inputs, &outputs), ASE_OK);
    ASSERT_EQ(asio->getBufferSize(&ignored, &ignored, &bufferSize, &ignored), ASE_OK);
    infos.clear();
    for (LONG i = 0; i < inputs; ++i) infos.push_back({ASIOTrue, i, {}});
    for (LONG i = 0; i < outputs; ++i) infos.push_back({ASIOFalse, i, {}});
    ASSERT_EQ(asio->createBuffers(infos.data(), LONG(infos.size()), bufferSize, HostCallbacks()), ASE_OK);
    ASSERT_EQ(asio->start(), ASE_OK);
}

void AsioTest::ReleaseDriver()
{
    if (m_asio) m_asio->Release();
    m_asio = nullptr;
    CurrentDriver() = nullptr;
}

void AsioTest::PlayAgain()
{
    {
        std::lock_guard lock(Log().mutex);
        Log().switches.clear();
        Log().messages.clear();
        Log().work = nullptr;
    }
    Log().disposed = false;
    IASIO* asio = CreateAndInit();
    ASSERT_NE(asio, nullptr);
    std::vector<ASIOBufferInfo> infos;
    LONG bufferSize = 0;
    m_machine->StartClock(true);
    StartAllChannels(asio, infos, bufferSize);
    // Beyond the primed packets: the device completes requests again.
    EXPECT_TRUE(Log().WaitFor([] { return Log().switches.size() >= 5; })) << Log().switches.size();
    EXPECT_EQ(asio->stop(), ASE_OK);
    EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
    m_machine->StopClock();
    ReleaseDriver();
}

}  // namespace asiotest
