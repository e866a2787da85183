// The ASIO driver as a host sees it: the virtual machine with the kernel
// driver and a device, mrvusbasio registered by its own DllRegisterServer
// and created through COM by its CLSID, and callbacks that record what the
// driver tells the host. Callbacks carry no context, so there is one host.
#pragma once

#include "asiointerface.h"
#include "machinefixture.h"
#include "mrvusbasio.h"

#include "um/debugoutput.h"
#include "um/desktop.h"

#include <objbase.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace asiotest {

// What the driver did to the host, written on the driver's threads.
struct HostLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LONG> switches;                // buffer indexes, in order
    std::vector<unsigned long long> positions;  // sample position during each switch
    std::vector<unsigned long long> systemTimes;
    std::vector<LONG> messages;                 // asioMessage selectors other than queries
    bool supportsTimeInfo = false;              // the answer to kAsioSupportsTimeInfo
    std::function<void(LONG index)> work;       // the host's processing inside a switch
    // Set by the test once disposeBuffers has returned: the driver may not
    // call the host after that, and every call that still comes is counted.
    std::atomic<bool> disposed{false};
    std::atomic<int> lateCallbacks{0};

    // Waits until pred holds; the bound only keeps a broken driver from
    // hanging the run.
    template <class Pred>
    bool WaitFor(Pred pred)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), pred);
    }
    size_t Count(LONG selector)
    {
        std::lock_guard lock(mutex);
        return size_t(std::count(messages.begin(), messages.end(), selector));
    }
};

HostLog& Log();
ASIOCallbacks* HostCallbacks();
IASIO*& CurrentDriver();

// The module's own client-library trace, collected while in scope.
class ModuleTrace {
public:
    explicit ModuleTrace(LONG threshold = 2);
    ~ModuleTrace();
    bool Has(const std::string& line) const;
    // Waits until the line has been traced (bounded like HostLog::WaitFor).
    bool WaitFor(const std::string& line) const;

private:
    HMODULE m_module;
};

class AsioTest : public umtest::MachineTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The settings key holds these values (it exists afterwards).
    void SetPref(const char* name, DWORD value);
    void SetPrefString(const char* name, const char* value);
    // A kernel driver setting the host did not make: the buffer length of
    // every filter of the device, as another client sets it.
    void SetUrbSizeAsAnotherClient(ULONG ms);

    // CoCreateInstance by the driver's CLSID, asking for IASIO.
    IASIO* Create();
    // Create + init(a window handle), expecting success.
    IASIO* CreateAndInit();
    // getBufferSize, createBuffers for every channel, start.
    void StartAllChannels(IASIO* asio, std::vector<ASIOBufferInfo>& infos, LONG& bufferSize);

    // Releases the driver the test created.
    void ReleaseDriver();
    // What a host does after a failure or a reset: creates the driver again,
    // starts every channel and gets buffer switches from the running device
    // (the bus clock runs meanwhile), then stops, disposes and releases it.
    void PlayAgain();

    IASIO* m_asio = nullptr;
    HMODULE m_module = NULL;  // keeps the driver loaded while the test looks into it
};

// Deletes a key with everything below it (no error when it is missing).
void DeleteKeyTree(HKEY root, const std::string& path);
std::string ReadString(HKEY root, const std::string& path, const char* value);

}  // namespace asiotest
