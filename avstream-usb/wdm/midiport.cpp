#include "midiport.h"

MidiPort::MidiPort(MidiEndpoint* endpoint, ULONG cable) : m_cable(cable), m_endpoint(endpoint)
{
    ExInitializeFastMutex(&m_outputMutex);
    KeInitializeSpinLock(&m_listenerLock);
}
