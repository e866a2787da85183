// A handle to a kernel file object: a kernel-streaming filter or pin opened
// through the I/O manager. Closing the last handle cancels what is pending
// and sends the cleanup and close requests.
#pragma once

#include "um/handletable.h"

namespace umsim {

namespace bridge {
struct KernelFile;
}

class FileObject : public HandleObject {
public:
    explicit FileObject(bridge::KernelFile* file) : HandleObject(ObjectKind::File), m_file(file) {}
    ~FileObject() override;
    bridge::KernelFile* Kernel() const { return m_file; }

private:
    bridge::KernelFile* m_file;
};

// Wraps an opened kernel file in a new handle.
HANDLE InsertFileHandle(bridge::KernelFile* file);
std::shared_ptr<FileObject> LookupFile(HANDLE handle, const char* routine);

}  // namespace umsim
