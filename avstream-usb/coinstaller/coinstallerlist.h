// The co-installers registered for a setup class: a REG_MULTI_SZ value of
// entries "file.dll,EntryName", each string ended by a NUL and the list by
// an empty string.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CoInstallerList {
public:
    // The list of a value's bytes: it ends at its first empty string or at
    // the end of the bytes, so a value that lacks its closing NULs reads as
    // if it had them.
    CoInstallerList(const BYTE* data, size_t size);

    bool Contains(const char* entry) const;  // exactly, case included
    void Append(const char* entry);
    // Removes every entry identical to the first one whose first 8
    // characters equal the file name's, ignoring case; false when no entry
    // is the file's.
    bool RemoveEntriesOf(const char* fileName);

    // The value's bytes, closing NUL included (a single NUL when empty).
    std::string Bytes() const;

private:
    std::vector<std::string> m_entries;
};
