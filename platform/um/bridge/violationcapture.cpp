// ViolationCapture is the kernel verifier's ExpectViolations behind a
// header free of kernel types.
#include "km/verifier.h"
#include "um/umverifier.h"

namespace umsim {

struct ViolationCapture::Impl {
    kmsim::ExpectViolations expect;
};

ViolationCapture::ViolationCapture() : m_impl(std::make_unique<Impl>()) {}
ViolationCapture::~ViolationCapture() = default;

size_t ViolationCapture::Count(const std::string& category) const { return m_impl->expect.Count(category); }

bool ViolationCapture::Saw(const std::string& category, const std::string& fragment) const
{
    return m_impl->expect.Saw(category, fragment);
}

std::vector<std::string> ViolationCapture::Messages() const
{
    std::vector<std::string> messages;
    for (const auto& violation : m_impl->expect.Seen()) messages.push_back(violation.category + ": " + violation.message);
    return messages;
}

}  // namespace umsim
