// CKsNode: one node of a filter's topology, as the filter reported it.
#pragma once

#include <windows.h>

class CKsNode {
public:
    CKsNode(ULONG ulNodeIndex, REFGUID guidType);

    ULONG GetNodeIndex() const { return m_ulNodeIndex; }
    const GUID& GetType() const { return m_guidType; }
    ULONG GetTag() const { return m_ulTag; }

private:
    ULONG m_ulNodeIndex;  // position in the filter's node list
    ULONG m_ulTag;        // 'N','O','N','E'
    GUID m_guidType;
};
