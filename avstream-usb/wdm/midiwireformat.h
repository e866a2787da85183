// The MIDI packet formats of the USB pipes, as pure functions on byte
// buffers: raw bytes, framed bytes behind a two-byte header, and the 4-byte
// event packets of the USB-MIDI class.
//
// Packing: on entry *taken is the number of source bytes available; on
// return it is the number used, and *filled the bytes now in the packet.
// The result says whether the packet is full.
#pragma once

#include "midiparser.h"

bool PackRaw(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken);
bool RawPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length);

bool PackFramed(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken);
// False when the packet's length byte is 0 or announces more than it holds.
bool FramedPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length);

// Feeds source bytes to the cable's parser until it reports a message and
// writes that message as one event packet; at most one per call.
bool PackClassEvent(MidiParser& parser, ULONG cable, PUCHAR packet, ULONG capacity, ULONG* filled,
                    const UCHAR* source, ULONG* taken);
// Calls sink for every whole event packet that carries MIDI bytes (a
// trailing remainder shorter than 4 bytes is ignored).
using ClassEventSink = void (*)(void* context, ULONG cable, const UCHAR* bytes, ULONG size);
void UnpackClassEvents(const UCHAR* packet, ULONG received, ClassEventSink sink, void* context);
