// The audio streaming pins: one client of an audio stream each.
#pragma once

#include "kernelobject.h"

#include <windef.h>
// Kernel code has no GDI bitmap types.
#define NOBITMAP
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

class AudioStream;
class UsbAudioDevice;

// The first 18 bytes of the connection format, as the client gave them.
struct AudioPinFormat {
    USHORT wFormatTag;
    USHORT nChannels;
    ULONG nSamplesPerSec;
    ULONG nAvgBytesPerSec;
    USHORT nBlockAlign;
    USHORT wBitsPerSample;
    USHORT cbSize;
};

class AudioPin : public KernelObject {
public:
    AudioPin(UsbAudioDevice* device, PKSPIN pin, AudioStream* stream, const AudioPinFormat& format)
        : m_device(device), m_stream(stream), m_pin(pin), m_format(format)
    {
    }
    virtual ~AudioPin() = default;

    // The stream's one call into its client, during a service pass.
    virtual void AttemptProcessing();

    NTSTATUS Process();
    NTSTATUS SetDeviceState(KSSTATE to, KSSTATE from);
    NTSTATUS HandleProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);

    AudioStream* Stream() const { return m_stream; }
    const AudioPinFormat& Format() const { return m_format; }

private:
    // Client bytes per second, for time stamps.
    ULONGLONG ByteRate() const;
    void Stamp(PKSSTREAM_POINTER pointer);

    UsbAudioDevice* m_device;
    AudioStream* m_stream;
    PKSPIN m_pin;
    AudioPinFormat m_format;
    ULONGLONG m_bytesMoved = 0;
    ULONGLONG m_nextStamp = 0;
};

extern const KSPIN_DISPATCH AudioPinDispatch;
NTSTATUS AudioPinPropertyHandler(PIRP irp, PKSIDENTIFIER request, PVOID data);
