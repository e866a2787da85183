// A bulk or interrupt MIDI IN endpoint of a virtual device: it sends the
// packets a test queued (raw, as given: split messages, malformed packets
// and all) or messages encoded in the endpoint's wire format, one packet
// per read, and can fail reads with a chosen USB status.
#pragma once

#include "hardware/midiwire.h"

#include <usb.h>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace hardware {

class MidiInput {
public:
    static constexpr ULONG kAlways = 0xFFFFFFFF;
    // Packets held for a host that does not read; more are dropped and
    // counted.
    static constexpr size_t kQueueLimit = 4096;

    MidiInput(UCHAR endpointAddress, MidiFormat format, size_t maxPacket);

    UCHAR EndpointAddress() const { return m_endpointAddress; }
    MidiFormat Format() const { return m_wire->Format(); }
    size_t MaxPacket() const { return m_maxPacket; }

    // Called when there is something new to read; the device points it at
    // the bus so a pending read is answered without waiting for a frame.
    void SetWake(std::function<void()> wake);

    // ---- Scripting ----
    // One packet exactly as given. A packet longer than the host's read
    // goes out in pieces over several reads, as a bulk pipe would.
    void QueuePacket(MidiBytes packet);
    // A MIDI byte stream (running status allowed) on a cable, cut into
    // messages and packed in the endpoint's format. A cable the format
    // cannot address throws std::invalid_argument.
    void Send(std::span<const uint8_t> bytes, uint8_t cable = 0);
    // Complete messages on a cable, packed in the endpoint's format.
    void SendMessages(uint8_t cable, std::span<const MidiBytes> messages);
    // The next `count` reads fail with status (kAlways: until StopFailing).
    void FailReads(USBD_STATUS status, ULONG count = kAlways);
    void StopFailing();

    // ---- The wire ----
    // One packet into buffer and its length; nothing when no packet is
    // queued (*status untouched) or when the read fails (*status set).
    std::optional<ULONG> Read(std::span<uint8_t> buffer, USBD_STATUS* status);

    // ---- Observation ----
    size_t Queued() const;
    // Packets (or pieces of them) the host has read, in order.
    std::vector<MidiBytes> Delivered() const;
    ULONG FailedReads() const;
    size_t DroppedPackets() const;

private:
    void Enqueue(std::vector<MidiBytes> packets);

    const UCHAR m_endpointAddress;
    const size_t m_maxPacket;
    mutable std::mutex m_lock;
    std::unique_ptr<MidiWire> m_wire;  // Pack may keep state: under m_lock
    std::function<void()> m_wake;
    std::deque<MidiBytes> m_queue;
    std::vector<MidiBytes> m_delivered;
    USBD_STATUS m_failStatus = USBD_STATUS_SUCCESS;
    ULONG m_failCount = 0;
    ULONG m_failed = 0;
    size_t m_dropped = 0;
};

}  // namespace hardware
