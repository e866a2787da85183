// Opening audio pins: the format rule, the device-wide sample rate, and the
// properties a client reads from an open pin.
#include "drivertestbed.h"

namespace {

// Product 0x10: pin 0 renders to the 4-channel stream, pin 2 captures from
// the 2-channel one.
constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 2;

class AudioPinCreate : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
    }

    NTSTATUS Open(ULONG pinId, const WaveFormat& format, std::unique_ptr<kmsim::KsClientHandle>* pin)
    {
        return m_filter->CreatePin(PinConnect(pinId), &format.format, pin);
    }

    KSALLOCATOR_FRAMING Framing(kmsim::KsClientHandle* pin)
    {
        KSALLOCATOR_FRAMING framing{};
        EXPECT_EQ(pin->Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_ALLOCATORFRAMING, KSPROPERTY_TYPE_GET,
                                &framing, sizeof(framing)),
                  STATUS_SUCCESS);
        return framing;
    }

    DriverTestBed m_bed;
    kmsim::KsClientHandle* m_filter = nullptr;
};

struct FramingCase {
    ULONG rate;
    USHORT bits;
    ULONG frameSize;
};

class AllocatorFraming : public AudioPinCreate, public testing::WithParamInterface<FramingCase> {};

TEST_P(AllocatorFraming, AsksForEightTransfersOfClientAudio)
{
    std::unique_ptr<kmsim::KsClientHandle> pin;
    ASSERT_EQ(Open(kCapturePin, PcmFormat(GetParam().rate, GetParam().bits, 2), &pin), STATUS_SUCCESS);
    KSALLOCATOR_FRAMING framing = Framing(pin.get());
    EXPECT_EQ(framing.FrameSize, GetParam().frameSize);
    EXPECT_EQ(framing.Frames, 8u);
    EXPECT_EQ(framing.OptionsFlags, ULONG(KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY));
    EXPECT_EQ(framing.PoolType, ULONG(NonPagedPool));
}

INSTANTIATE_TEST_SUITE_P(Formats, AllocatorFraming,
                         testing::Values(FramingCase{44100, 24, 2652}, FramingCase{48000, 24, 2880},
                                         FramingCase{44100, 16, 1768}));

TEST_F(AudioPinCreate, OddChannelCountsAndInconsistentBlocksAreRefused)
{
    std::unique_ptr<kmsim::KsClientHandle> pin;
    EXPECT_EQ(Open(kRenderPin, PcmFormat(48000, 24, 3), &pin), STATUS_NO_MATCH);
    WaveFormat badBlock = PcmFormat(48000, 24, 2);
    badBlock.wave.Format.nBlockAlign = 4;
    EXPECT_EQ(Open(kRenderPin, badBlock, &pin), STATUS_NO_MATCH);
    WaveFormat widest = PcmFormat(48000, 24, 2);
    widest.wave.Format.nChannels = widest.wave.Format.wBitsPerSample = 65535;
    EXPECT_EQ(Open(kRenderPin, widest, &pin), STATUS_NO_MATCH);
    WaveFormat badValidBits = PcmFormat(48000, 24, 2, true);
    badValidBits.wave.Samples.wValidBitsPerSample = 20;
    EXPECT_EQ(Open(kRenderPin, badValidBits, &pin), STATUS_NO_MATCH);
    // A width the streams cannot convert would never move a byte.
    EXPECT_EQ(Open(kRenderPin, PcmFormat(48000, 20, 2), &pin), STATUS_NO_MATCH);
    EXPECT_EQ(Open(kRenderPin, PcmFormat(48000, 24, 4, true), &pin), STATUS_SUCCESS);
}

TEST_F(AudioPinCreate, AllAudioPinsShareOneRateThatChangesOnlyWhileNoneIsOpen)
{
    std::unique_ptr<kmsim::KsClientHandle> capture, render;
    ASSERT_EQ(Open(kCapturePin, PcmFormat(48000, 24, 2), &capture), STATUS_SUCCESS);
    EXPECT_EQ(Open(kRenderPin, PcmFormat(44100, 24, 2), &render), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(capture->Close(), STATUS_SUCCESS);
    ASSERT_EQ(Open(kRenderPin, PcmFormat(44100, 24, 2), &render), STATUS_SUCCESS);
    // Every stream of the device switched.
    EXPECT_EQ(m_bed.Usb().SamplingFrequency(0x01), 44100u);
    EXPECT_EQ(m_bed.Usb().SamplingFrequency(0x82), 44100u);
}

TEST_F(AudioPinCreate, PositionIsZeroAtCreationAndCanBeSet)
{
    std::unique_ptr<kmsim::KsClientHandle> pin;
    ASSERT_EQ(Open(kRenderPin, PcmFormat(48000, 16, 2), &pin), STATUS_SUCCESS);
    KSAUDIO_POSITION position{1, 1};
    ASSERT_EQ(pin->Property(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_GET, &position,
                            sizeof(position)),
              STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, 0u);
    EXPECT_EQ(position.WriteOffset, 0u);
    KSAUDIO_POSITION set{960, 1920};
    ASSERT_EQ(pin->Property(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_SET, &set, sizeof(set)),
              STATUS_SUCCESS);
    ASSERT_EQ(pin->Property(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_GET, &position,
                            sizeof(position)),
              STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, 960u);
    EXPECT_EQ(position.WriteOffset, 1920u);
}

TEST_F(AudioPinCreate, OneInstancePerPinAndFilter)
{
    std::unique_ptr<kmsim::KsClientHandle> first, second;
    ASSERT_EQ(Open(kRenderPin, PcmFormat(48000, 16, 2), &first), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(Open(kRenderPin, PcmFormat(48000, 16, 2), &second)));
    // Another client's filter has its own instance.
    kmsim::KsClientHandle* other = m_bed.OpenFilter();
    const WaveFormat format = PcmFormat(48000, 16, 2);
    EXPECT_EQ(other->CreatePin(PinConnect(kRenderPin), &format.format, &second), STATUS_SUCCESS);
}

}  // namespace
