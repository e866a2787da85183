// Device identities from arbitrary descriptors and serial strings: the
// walk never reads past what the device sent, and every id is one Windows
// would accept (printable, no comma, within 200 characters).
#include "fuzzdescriptorset.h"
#include "usb/deviceidentity.h"

#include <cstdlib>

namespace {

void Check(const std::string& id)
{
    if (id.empty() || id.size() > 200) abort();
    for (char c : id) {
        if (c < 0x20 || c > 0x7E || c == ',') abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    usbsim::DescriptorSet set = FuzzDescriptorSet(data, size);
    // The product string doubles as the serial number when the device
    // descriptor names index 2 for it.
    usbsim::DescriptorDevice device(std::move(set));
    usbsim::DeviceIdentity identity = usbsim::IdentifyDevice(device, uint32_t(size % 8) + 1);
    Check(identity.instanceId);
    if (identity.hardwareIds.size() != 2 || identity.compatibleIds.size() != 3) abort();
    for (const std::string& id : identity.hardwareIds) Check(id);
    for (const std::string& id : identity.compatibleIds) Check(id);
    return 0;
}
