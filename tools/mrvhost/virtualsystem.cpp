// The host on Linux: a virtual Windows with the driver package installed
// as its installer installs it, a virtual Marvolan device whose audio output
// is looped to its input (Windows loads the package's kernel driver for it),
// the package's ASIO driver registered by its own DllRegisterServer, and the
// emulated desktop, on which the host can play the user.
#include "hostsystem.h"
#include "virtualdevice.h"

#include <windows.h>
#include <setupapi.h>

#include "um/debugoutput.h"
#include "um/desktop.h"
#include "um/rundll32.h"
#include "um/virtualmachine.h"
#include "um/windowsroot.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

namespace {

// Bus frames between the device hearing a sample and sending it back.
constexpr uint32_t kLoopDelayFrames = 2;
// How far the fast clock may run past the audio the host has handed over:
// the driver's pipeline needs a few frames beyond it to complete a packet,
// and more would starve the device at 1-ms buffers (measured: 8 keeps every
// buffer length from 2 to 20 ms fast and sample-exact; 1 ms runs on the
// real-time fallback).
constexpr int64_t kFastClockLeadMs = 8;

class VirtualSystem : public HostSystem {
public:
    bool Start(const SystemOptions& options, std::string* error)
    {
        if (!OpenRoot(options.windowsRoot, error)) return false;
        if (!InstallPackage(error)) return false;
        // Windows finds the device's driver in the store when it is plugged.
        m_machine = std::make_unique<umsim::VirtualMachine>(umsim::InstalledWindows{});
        int32_t status = -1;
        if (m_machine->Plug(NewLoopedDevice(uint16_t(options.product), kLoopDelayFrames), &status) < 0 || status < 0) {
            char text[96];
            snprintf(text, sizeof text, "the virtual device did not start (0x%08X)", unsigned(status));
            return Fail(error, text);
        }
        if (options.fastClock) {
            m_clock = std::thread([this] { RunFastClock(); });
        } else {
            m_machine->StartClock(true);
        }
        return Register(options.asioDriver.empty() ? MRV_ASIO_DRIVER_MODULE : options.asioDriver, error);
    }

    ~VirtualSystem() override
    {
        if (m_clock.joinable()) {
            {
                std::lock_guard lock(m_fast.mutex);
                m_fast.quit = true;
            }
            m_fast.moved.notify_all();
            m_clock.join();
        }
        if (m_machine) m_machine->StopClock();
        m_machine.reset();
        // What the driver stored (its settings, the registration) outlives
        // the run in a root the user named.
        if (m_root && m_keepRoot) m_root->Save();
        m_root.reset();
        std::error_code ignored;
        if (!m_temporaryRoot.empty()) std::filesystem::remove_all(m_temporaryRoot, ignored);
    }

    void* Window() override { return nullptr; }
    bool CanPlayUser() const override { return true; }

    void PlayUserOnNextPanel(const std::vector<PanelSetting>& settings, std::vector<std::string>* pictures) override
    {
        umsim::OnMessageBox([pictures](const umsim::MessageBoxRecord& box) {
            pictures->push_back("Message box \"" + box.caption + "\": " + box.text);
            return 0;
        });
        umsim::OnDialog(kAboutBox, [pictures](umsim::Dialog& about) {
            pictures->push_back(about.Picture());
            about.Press(IDOK);
        });
        umsim::OnDialog(kControlPanel, [settings, pictures](umsim::Dialog& panel) {
            bool changed = false;
            for (const PanelSetting& setting : settings) {
                if (setting.name == "about") {
                    panel.Press(kAboutButton);
                } else if (!Apply(panel, setting)) {
                    pictures->push_back("The panel has no choice " + setting.name + "=" + setting.value);
                } else {
                    changed = true;
                }
            }
            pictures->push_back(panel.Picture());
            panel.Press(changed ? IDOK : IDCANCEL);
        });
    }

    std::string TakeDebugOutput() override { return umsim::TakeDebugOutput(); }

    void StreamStarting() override
    {
        std::lock_guard lock(m_fast.mutex);
        m_fast.streaming = true;
        m_fast.start = m_machine->CurrentFrame();
        m_fast.allowed = m_fast.start;
    }

    void BufferSwitched(int64_t framesHandedOver, double rate) override
    {
        if (rate <= 0) return;
        const int64_t handedMs = int64_t(double(framesHandedOver) * 1000 / rate);
        {
            std::lock_guard lock(m_fast.mutex);
            if (!m_fast.streaming) return;
            m_fast.allowed = m_fast.start + uint32_t(handedMs + kFastClockLeadMs);
        }
        m_fast.moved.notify_all();
    }

    uint64_t FramesPastHost() const override { return m_fast.pastHost.load(); }

    void StreamEnding() override
    {
        {
            std::lock_guard lock(m_fast.mutex);
            m_fast.streaming = false;
        }
        m_fast.moved.notify_all();
    }

private:
    // The driver's dialogs and the controls a user changes.
    static constexpr int kControlPanel = 129;
    static constexpr int kAboutBox = 103;
    static constexpr int kAboutButton = 104;
    static constexpr int kBufferTrackbar = 1000;
    static constexpr int kRateList = 1005;
    static constexpr int kFormatList = 1006;
    static constexpr int kDeviceList = 1007;

    static bool Apply(umsim::Dialog& panel, const PanelSetting& setting)
    {
        if (setting.name == "buffer") {
            char* end = nullptr;
            const long ms = strtol(setting.value.c_str(), &end, 10);
            return end && !*end && panel.MoveTrackbar(kBufferTrackbar, int(ms)) &&
                   panel.Position(kBufferTrackbar) == ms;
        }
        if (setting.name == "rate") return panel.Pick(kRateList, setting.value);
        if (setting.name == "format") return panel.Pick(kFormatList, setting.value + " bit");
        if (setting.name == "device") return panel.Pick(kDeviceList, setting.value);
        return false;
    }

    // A named root is loaded and kept; otherwise the run has a fresh one
    // that lives as long as it does.
    bool OpenRoot(const std::string& directory, std::string* error)
    {
        m_keepRoot = !directory.empty();
        std::string path = directory;
        if (path.empty()) {
            char pattern[] = "/tmp/mrvhost-windows-XXXXXX";
            if (!mkdtemp(pattern)) return Fail(error, "no temporary folder for the virtual Windows root");
            path = pattern;
            m_temporaryRoot = path;
        }
        m_root = std::make_unique<umsim::WindowsRoot>(path);
        if (!m_root->Opened()) return Fail(error, "the virtual Windows root " + path + ": " + m_root->Error());
        return true;
    }

    // What the package's installer does: the driver package into the
    // driver store, the class co-installer into the system folder,
    // registered for the MEDIA class by the DLL runner. Both steps change
    // nothing the second time, so a kept root is only confirmed.
    bool InstallPackage(std::string* error)
    {
        const std::string package = MRV_PACKAGE_DIR;
        const std::string inf = package + "/mrvusbaudio.inf";
        if (!SetupCopyOEMInfA(inf.c_str(), package.c_str(), SPOST_PATH, 0, NULL, 0, NULL, NULL)) {
            char text[64];
            snprintf(text, sizeof text, " was not stored (error 0x%08X)", unsigned(GetLastError()));
            return Fail(error, "the driver package " + inf + text);
        }
        std::string why;
        if (!m_root->InstallFile(package + "/mrvusbaudio_coinst.dll", "C:\\Windows\\System32\\mrvusbaudio_coinst.dll",
                                 &why) ||
            !umsim::RunDll32("mrvusbaudio_coinst.dll,ClassCoInstaller_Register {4d36e96c-e325-11ce-bfc1-08002be10318}",
                             &why)) {
            return Fail(error, "the class co-installer was not registered: " + why);
        }
        return true;
    }

    static bool Fail(std::string* error, const std::string& text)
    {
        *error = text;
        return false;
    }

    // As an installer does: the module's own DllRegisterServer.
    bool Register(const std::string& module, std::string* error)
    {
        HMODULE library = LoadLibraryA(module.c_str());
        if (!library) return Fail(error, "the ASIO driver " + module + " could not be loaded");
        using Entry = HRESULT(STDAPICALLTYPE*)();
        // Through the generic function type, as the entry's own type is not FARPROC's.
        auto registerServer =
            reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(library, "DllRegisterServer")));
        const HRESULT hr = registerServer ? registerServer() : E_FAIL;
        FreeLibrary(library);
        if (hr != S_OK) return Fail(error, "the ASIO driver " + module + " did not register");
        return true;
    }

    // The fast clock: one bus frame after another as fast as the work
    // allows, but while the host streams not past the audio it has handed
    // the driver, so a loaded machine slows the run instead of starving the
    // device. When the host has handed all it can and waits for the device
    // (short buffers need the bus to move on to complete), a frame passes
    // every 2 ms of real time: never faster than real time would.
    void RunFastClock()
    {
        for (;;) {
            {
                std::unique_lock lock(m_fast.mutex);
                const bool inStep = m_fast.moved.wait_for(lock, std::chrono::milliseconds(2), [this] {
                    return m_fast.quit || !m_fast.streaming ||
                           int32_t(m_machine->CurrentFrame() - m_fast.allowed) < 0;
                });
                if (m_fast.quit) return;
                if (!inStep) ++m_fast.pastHost;
            }
            m_machine->StepFrames(1);
        }
    }

    struct FastClock {
        std::mutex mutex;  // guards the fields below
        std::condition_variable moved;
        bool quit = false;
        bool streaming = false;
        uint32_t start = 0;    // bus frame when the stream started
        uint32_t allowed = 0;  // the bus may run up to this frame while streaming
        std::atomic<uint64_t> pastHost{0};  // frames stepped beyond allowed (read by the host's thread)
    } m_fast;
    std::thread m_clock;

    std::unique_ptr<umsim::WindowsRoot> m_root;
    bool m_keepRoot = false;
    std::string m_temporaryRoot;
    std::unique_ptr<umsim::VirtualMachine> m_machine;
};

}  // namespace

std::unique_ptr<HostSystem> HostSystem::Start(const SystemOptions& options, std::string* error)
{
    auto system = std::make_unique<VirtualSystem>();
    if (!system->Start(options, error)) return nullptr;
    return system;
}
