// The host on Windows: the system's own drivers and desktop; the user
// answers the driver's dialogs.
#include "hostsystem.h"

#include <windows.h>

namespace {

class WindowsSystem : public HostSystem {
public:
    void* Window() override { return GetConsoleWindow(); }
    bool CanPlayUser() const override { return false; }
    void PlayUserOnNextPanel(const std::vector<PanelSetting>&, std::vector<std::string>*) override {}
    std::string TakeDebugOutput() override { return {}; }
};

}  // namespace

std::unique_ptr<HostSystem> HostSystem::Start(const SystemOptions&, std::string*)
{
    return std::make_unique<WindowsSystem>();
}
