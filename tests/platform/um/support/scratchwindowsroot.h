// A virtual Windows root of a test's own: a fresh folder under the test's
// temporary directory, opened as the process's root, closed and removed
// when it goes. Header-only, for suites that need nothing else of the
// test support.
#pragma once

#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace umtest {

class ScratchWindowsRoot {
public:
    explicit ScratchWindowsRoot(const std::string& name)
        : m_directory(std::filesystem::path(testing::TempDir()) / name)
    {
        std::filesystem::remove_all(m_directory);
        m_root = std::make_unique<umsim::WindowsRoot>(m_directory.string());
    }
    ~ScratchWindowsRoot()
    {
        m_root.reset();
        std::filesystem::remove_all(m_directory);
    }
    ScratchWindowsRoot(const ScratchWindowsRoot&) = delete;
    ScratchWindowsRoot& operator=(const ScratchWindowsRoot&) = delete;

    umsim::WindowsRoot& Root() { return *m_root; }
    const std::filesystem::path& Directory() const { return m_directory; }

private:
    std::filesystem::path m_directory;
    std::unique_ptr<umsim::WindowsRoot> m_root;
};

}  // namespace umtest
