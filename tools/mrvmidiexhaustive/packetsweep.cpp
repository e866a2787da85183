#include "packetsweep.h"

#include "classeventmodel.h"
#include "midiwireformat.h"

#include <cstring>

namespace {

// Packets unpacked in one call: a whole run of consecutive padding bytes,
// which also makes the unpacker walk a realistic multi-packet transfer.
constexpr uint32_t kBatch = 256;

struct Delivery {
    ULONG cable;
    ULONG size;
    UCHAR bytes[3];
};

// What the unpacker handed over for one batch, in order.
struct Deliveries {
    Delivery items[kBatch];
    uint32_t count = 0;
    bool overflow = false;
};

void Collect(void* context, ULONG cable, const UCHAR* bytes, ULONG size)
{
    auto* d = static_cast<Deliveries*>(context);
    if (d->count == kBatch || size > 3) {
        d->overflow = true;
        return;
    }
    Delivery& item = d->items[d->count++];
    item.cable = cable;
    item.size = size;
    std::memcpy(item.bytes, bytes, size);
}

// The two parser states a valid event may need: idle, and inside a SysEx at
// a piece boundary (after the 3-byte first piece has gone out).
struct Parsers {
    MidiParser idle{kClassSysExChunk};
    MidiParser inSysEx{kClassSysExChunk};
    Parsers()
    {
        for (UCHAR b : {UCHAR(0xF0), UCHAR(0x00), UCHAR(0x00)}) inSysEx.Feed(b);
    }
};

class Sweeper {
public:
    explicit Sweeper(SweepTally* tally) : m_tally(tally) {}

    void Batch(const uint32_t* packets, uint32_t n)
    {
        UCHAR wire[kBatch * 4];
        for (uint32_t i = 0; i < n; ++i) {
            for (int k = 0; k < 4; ++k) wire[i * 4 + k] = classmodel::Byte(packets[i], k);
        }
        m_deliveries.count = 0;
        m_deliveries.overflow = false;
        UnpackClassEvents(wire, n * 4, Collect, &m_deliveries);
        if (m_deliveries.overflow) return Fail(packets[0], 0, "the unpacker delivered more events than packets");

        uint32_t next = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t packet = packets[i];
            const classmodel::ModelEvent model = classmodel::Classify(packet);
            const UCHAR* bytes = wire + i * 4 + 1;
            const uint8_t cin = wire[i * 4] & 0x0F;
            if (model.size == 0) {
                // Nothing delivered for it: the next delivery belongs to a later packet.
                Count(cin, kReservedDropped);
                continue;
            }
            if (next == m_deliveries.count) return Fail(packet, cin, "not delivered");
            const Delivery& d = m_deliveries.items[next++];
            if (d.cable != ULONG(packet >> 28) || d.size != model.size || std::memcmp(d.bytes, bytes, model.size) != 0)
                return Fail(packet, cin, "delivered other than its cable and CIN's bytes");
            switch (model.eventClass) {
            case classmodel::EventClass::Valid: RoundTrip(packet, model, bytes); break;
            case classmodel::EventClass::SingleByte: Count(cin, kSingleBytePassed); break;
            case classmodel::EventClass::Invalid: Count(cin, kInvalidDelivered); break;
            case classmodel::EventClass::Reserved: return Fail(packet, cin, "reserved CIN delivered");
            }
        }
        if (next != m_deliveries.count) Fail(packets[0], 0, "the unpacker delivered events for no packet");
    }

private:
    // The host's packer, given what the device's event delivered, must send
    // that event again: same cable and CIN, same MIDI bytes, zero padding.
    void RoundTrip(uint32_t packet, const classmodel::ModelEvent& model, const UCHAR* bytes)
    {
        const uint8_t cin = classmodel::Byte(packet, 0) & 0x0F;
        MidiParser parser = model.context == classmodel::ParserContext::InSysEx ? m_parsers.inSysEx : m_parsers.idle;
        UCHAR out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        ULONG filled = 0;
        ULONG taken = model.size;
        PackClassEvent(parser, packet >> 28, out, sizeof(out), &filled, bytes, &taken);
        if (filled != 4 || taken != model.size) return Fail(packet, cin, "repacked as no event, or before its last byte");
        if (out[0] != classmodel::Byte(packet, 0) || std::memcmp(out + 1, bytes, model.size) != 0)
            return Fail(packet, cin, "repacked with another cable, CIN or bytes");
        bool paddingZero = true;
        for (int k = 1 + model.size; k < 4; ++k) {
            if (out[k] != 0) return Fail(packet, cin, "repacked with non-zero padding");
            paddingZero = paddingZero && classmodel::Byte(packet, k) == 0;
        }
        Count(cin, paddingZero ? kRoundTripped : kPaddingCleared);
    }

    void Count(uint8_t cin, Outcome outcome) { ++m_tally->counts[cin][outcome]; }

    void Fail(uint32_t packet, uint8_t cin, const char* what)
    {
        Count(cin, kMismatch);
        if (m_tally->firstMismatches.size() < kMismatchesKept) m_tally->firstMismatches.push_back({packet, what});
    }

    SweepTally* m_tally;
    Parsers m_parsers;
    Deliveries m_deliveries;
};

}  // namespace

void SweepTally::Add(const SweepTally& other)
{
    for (size_t cin = 0; cin < counts.size(); ++cin) {
        for (int o = 0; o < kOutcomeCount; ++o) counts[cin][o] += other.counts[cin][o];
    }
    for (const Mismatch& m : other.firstMismatches) {
        if (firstMismatches.size() < kMismatchesKept) firstMismatches.push_back(m);
    }
}

uint64_t SweepTally::Total(Outcome outcome) const
{
    uint64_t total = 0;
    for (const auto& row : counts) total += row[outcome];
    return total;
}

void SweepPackets(const PacketSlice& slice, SweepTally* tally)
{
    Sweeper sweeper(tally);
    uint32_t packets[kBatch];
    uint32_t n = 0;
    uint32_t packet = uint32_t(slice.from);
    const uint32_t stride = uint32_t(slice.stride);
    for (uint64_t i = 0; i < slice.count; ++i, packet += stride) {
        packets[n++] = packet;
        if (n == kBatch) {
            sweeper.Batch(packets, n);
            n = 0;
        }
    }
    if (n > 0) sweeper.Batch(packets, n);
}
