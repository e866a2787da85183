#include "ksnode.h"

#include "kstrace.h"

CKsNode::CKsNode(ULONG ulNodeIndex, REFGUID guidType)
    : m_ulNodeIndex(ulNodeIndex), m_ulTag(ULONG('N') | ULONG('O') << 8 | ULONG('N') << 16 | ULONG('E') << 24),
      m_guidType(guidType)
{
    KsTraceEnter("CKsNode::CKsNode()");
    KsTraceLeave("CKsNode::CKsNode()");
}
