#include "coinstallerlist.h"

#include <algorithm>
#include <string.h>

CoInstallerList::CoInstallerList(const BYTE* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    size_t offset = 0;
    while (offset < size && text[offset]) {
        size_t length = strnlen(text + offset, size - offset);
        m_entries.emplace_back(text + offset, length);
        offset += length + 1;
    }
}

bool CoInstallerList::Contains(const char* entry) const
{
    return std::find(m_entries.begin(), m_entries.end(), entry) != m_entries.end();
}

void CoInstallerList::Append(const char* entry) { m_entries.emplace_back(entry); }

bool CoInstallerList::RemoveEntriesOf(const char* fileName)
{
    auto found = std::find_if(m_entries.begin(), m_entries.end(),
                              [&](const std::string& entry) { return _strnicmp(entry.c_str(), fileName, 8) == 0; });
    if (found == m_entries.end()) return false;
    const std::string removed = *found;
    m_entries.erase(std::remove(m_entries.begin(), m_entries.end(), removed), m_entries.end());
    return true;
}

std::string CoInstallerList::Bytes() const
{
    std::string bytes;
    for (const std::string& entry : m_entries) bytes.append(entry).push_back('\0');
    bytes.push_back('\0');
    return bytes;
}
