// What a client's Process does to the transfer being served: render data
// written or mixed in, capture data read out.
#include "audiostream.h"
#include "sampleconversion.h"

bool AudioStream::RenderFromClient(const UCHAR* source, ULONG sourceBytes, ULONG bitsPerSample, ULONG clientChannels,
                                   ULONG* consumed)
{
    *consumed = 0;
    IsoTransfer* transfer = m_currentTransfer;
    if (!transfer) return false;
    if (m_clientOffset >= transfer->length) return false;
    PUCHAR dst = transfer->data + m_clientOffset;
    const ULONG space = transfer->length - m_clientOffset;

    ULONG used = 0;
    ULONG produced = 0;
    if (!source || sourceBytes == 0) {
        // No frame: the rest of the transfer is done for this client; it
        // holds silence or what earlier clients mixed in.
        produced = space;
    } else if (clientChannels == m_channels && (bitsPerSample == 16 || bitsPerSample == 24)) {
        if (bitsPerSample == 16) {
            const ULONG k = space / 3 < sourceBytes / 2 ? space / 3 : sourceBytes / 2;
            (m_mixing ? Mix16Into24 : Widen16To24)(dst, source, k);
            used = 2 * k;
            produced = 3 * k;
        } else if (m_mixing) {
            const ULONG k = space / 3 < sourceBytes / 3 ? space / 3 : sourceBytes / 3;
            Mix24Into24(dst, source, k);
            used = produced = 3 * k;
        } else {
            // Same layout on both sides: bytes move as they are, so a frame
            // that ends mid-sample continues byte-exactly in the next one.
            const ULONG k = sourceBytes < space ? sourceBytes : space;
            RtlCopyMemory(dst, source, k);
            used = produced = k;
        }
    } else if (clientChannels == 2 && m_channels == 4 && (bitsPerSample == 16 || bitsPerSample == 24)) {
        const ULONG clientFrame = bitsPerSample / 8 * 2;
        const ULONG k = space / 12 < sourceBytes / clientFrame ? space / 12 : sourceBytes / clientFrame;
        if (bitsPerSample == 16)
            (m_mixing ? MixStereo16IntoQuad24 : WidenStereo16IntoQuad24)(dst, source, k);
        else
            (m_mixing ? MixStereo24IntoQuad24 : CopyStereo24IntoQuad24)(dst, source, k);
        used = clientFrame * k;
        produced = 12 * k;
    }

    m_clientOffset += produced;
    *consumed = used;
    // Without progress (an unsupported layout, or less than one sample left
    // in the frame) asking again would only spin.
    return produced > 0 && produced < space;
}

bool AudioStream::CaptureToClient(PUCHAR destination, ULONG destinationBytes, ULONG bitsPerSample, ULONG* produced)
{
    *produced = 0;
    IsoTransfer* transfer = m_currentTransfer;
    if (!transfer || destinationBytes == 0 || (bitsPerSample != 16 && bitsPerSample != 24)) return false;
    const auto& iso = transfer->urb->UrbIsochronousTransfer;

    ULONG written = 0;
    while (destinationBytes > 0 && m_clientPacket < transfer->packets) {
        const ULONG length = iso.IsoPacket[m_clientPacket].Length;
        const ULONG offset = iso.IsoPacket[m_clientPacket].Offset;
        // The device decides each packet's length; never read beyond the
        // packet's slot in the buffer.
        if (length == 0 || length > m_packetStride || offset > transfer->length - length) break;
        const UCHAR* src = transfer->data + offset + m_clientOffset;
        const ULONG available = length - m_clientOffset;

        ULONG taken;
        ULONG out;
        if (bitsPerSample == 24) {
            taken = out = available < destinationBytes ? available : destinationBytes;
            RtlCopyMemory(destination, src, taken);
        } else {
            const ULONG k = available / 3 < destinationBytes / 2 ? available / 3 : destinationBytes / 2;
            Narrow24To16(destination, src, k);
            taken = 3 * k;
            out = 2 * k;
        }
        if (taken == 0) break;
        m_clientOffset = (m_clientOffset + taken) % length;
        if (m_clientOffset == 0) ++m_clientPacket;
        destination += out;
        destinationBytes -= out;
        written += out;
    }
    *produced = written;
    return written > 0 && m_clientPacket < transfer->packets;
}
