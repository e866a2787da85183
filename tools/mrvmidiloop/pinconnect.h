// The connection request of a streaming pin, as the system's clients make
// it: standard streaming interface, any-instance medium, normal priority.
#pragma once

#include <ks.h>

inline KSPIN_CONNECT StreamingPinConnect(ULONG pinId)
{
    KSPIN_CONNECT connect{};
    connect.Interface.Set = KSINTERFACESETID_Standard;
    connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    connect.Medium.Set = KSMEDIUMSETID_Standard;
    connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    connect.PinId = pinId;
    connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect.Priority.PrioritySubClass = 1;
    return connect;
}
