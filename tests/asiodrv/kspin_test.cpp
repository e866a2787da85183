// CKsPin and CKsAudPin: property reads, the audio checks, format support,
// the connection request, instantiation, state and close.
#include "audioformats.h"
#include "ksaudfilter.h"
#include "machinefixture.h"
#include "tracecapture.h"

#include "um/umverifier.h"

#include <cstring>

namespace {

using umtest::FakeFilterScenario;
using umtest::FakeInterfaces;
using umtest::FakePin;
using umtest::FakeRanges;

constexpr bool k64 = sizeof(void*) == 8;
// Where the data format and the wave format sit in the connection request.
constexpr size_t kFormatOffset = k64 ? 72 : 64;
constexpr size_t kWaveOffset = kFormatOffset + 64;

FakePin RenderPin(FakeRanges ranges = FakeRanges::Pcm, FakeInterfaces interfaces = FakeInterfaces::Standard)
{
    FakePin pin;
    pin.ranges = ranges;
    pin.interfaces = interfaces;
    return pin;
}

class PinTest : public umtest::MachineTest {
protected:
    void TearDown() override
    {
        m_filter.reset();
        MachineTest::TearDown();
    }
    // Boots the scripted filter with one pin and opens the filter.
    void BootPin(FakePin pin)
    {
        FakeFilterScenario scenario;
        scenario.pins = {pin};
        BootFake(scenario);
        HRESULT hr = E_FAIL;
        m_filter = std::make_unique<CKsAudFilter>(FirstPath().c_str(), &hr);
        ASSERT_EQ(m_filter->Instantiate(), S_OK);
    }
    // A new audio pin object for pin 0 (the caller deletes it).
    std::unique_ptr<CKsAudPin> MakePin(HRESULT* hr)
    {
        return std::make_unique<CKsAudRenPin>(m_filter.get(), 0, hr);
    }
    // Boots a plain PCM render pin and makes its audio pin object; null when
    // the object could not be made.
    std::unique_ptr<CKsAudPin> BootRenderPin()
    {
        BootPin(RenderPin());
        HRESULT hr = E_FAIL;
        auto pin = MakePin(&hr);
        EXPECT_EQ(hr, S_OK);
        if (hr != S_OK) pin.reset();
        return pin;
    }
    std::vector<uint8_t> Request(const CKsAudPin& pin)
    {
        auto* bytes = reinterpret_cast<const uint8_t*>(pin.GetConnectionRequest());
        return std::vector<uint8_t>(bytes, bytes + pin.GetConnectionRequestSize());
    }
    template <class T>
    static T At(const std::vector<uint8_t>& bytes, size_t offset)
    {
        T value;
        memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
    std::unique_ptr<CKsAudFilter> m_filter;
};

}  // namespace

TEST_F(PinTest, AllNineReadsSucceedOnAWellFormedPin)
{
    BootPin(RenderPin());
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, umtest::kFakePinNameKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    const char name[] = "Fake Pin";
    RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
    RegCloseKey(key);
    HRESULT hr = E_FAIL;
    CKsPin pin(m_filter.get(), 0, &hr);
    EXPECT_EQ(hr, S_OK);
    // The name is kept as the kernel's wide characters.
    EXPECT_EQ(memcmp(pin.m_szPinName, u"Fake Pin", sizeof(u"Fake Pin")), 0);
    EXPECT_TRUE(pin.m_guidCategory == KSNODETYPE_DAC);
    ULONG flow = 0, communication = 0;
    pin.GetDataFlow(&flow);
    pin.GetCommunication(&communication);
    EXPECT_EQ(flow, ULONG(KSPIN_DATAFLOW_IN));
    EXPECT_EQ(communication, ULONG(KSPIN_COMMUNICATION_SINK));
    EXPECT_EQ(pin.m_cInterfaces, 1u);
    EXPECT_EQ(pin.m_cMediums, 1u);
    EXPECT_EQ(pin.m_cDataRanges, 1u);
    EXPECT_EQ(pin.m_cInstances.PossibleCount, 1u);
    // A plain pin has no connection request and creates nothing.
    EXPECT_EQ(pin.Instantiate(FALSE), S_OK);
    EXPECT_EQ(pin.GetHandle(), INVALID_HANDLE_VALUE);
}

TEST_F(PinTest, AFailedReadIsTracedWithThePinIdAndOnlyMakesTheResultSFalse)
{
    BootPin(RenderPin());
    TraceCapture capture(3);
    HRESULT hr = E_FAIL;
    CKsPin pin(m_filter.get(), 5, &hr);  // no such pin: every read fails
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(capture.Has("Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: 5"));
    EXPECT_TRUE(capture.Has("Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: 5"));
    EXPECT_TRUE(capture.Has("Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: 5"));
    EXPECT_EQ(pin.m_pInterfaces, nullptr);
}

TEST_F(PinTest, ALoopedOnlyInterfaceIsNotAnAudioPin)
{
    BootPin(RenderPin(FakeRanges::Pcm, FakeInterfaces::LoopedOnly));
    TraceCapture capture(1);
    HRESULT hr = S_OK;
    auto pin = MakePin(&hr);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_TRUE(capture.Has("No standard streaming interfaces on the pin"));
}

class PinWithoutAudioRanges : public PinTest, public ::testing::WithParamInterface<FakeRanges> {};

TEST_P(PinWithoutAudioRanges, IsNotAnAudioPin)
{
    BootPin(RenderPin(GetParam()));
    TraceCapture capture(1);
    HRESULT hr = S_OK;
    auto pin = MakePin(&hr);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_TRUE(capture.Has("No audio dataranges on the pin"));
}

INSTANTIATE_TEST_SUITE_P(NoneAndMidi, PinWithoutAudioRanges, ::testing::Values(FakeRanges::None, FakeRanges::Midi));

TEST_F(PinTest, ARangeOfAnotherSubformatAfterTheFirstAcceptableOneIsKept)
{
    BootPin(RenderPin(FakeRanges::PcmThenFloat));
    HRESULT hr = E_FAIL;
    auto pin = MakePin(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(pin->m_listDataRange.Count(), 2u);
    EXPECT_EQ(pin->m_listDataRange.First()->pNext->pData->MaximumChannels, 8u);
}

struct FormatCase {
    const char* name;
    WORD channels, bits;
    DWORD rate;
    bool extensible;
    BOOL supported;
};

class FormatSupport : public PinTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatSupport, FollowsTheRanges)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    const FormatCase& c = GetParam();
    WAVEFORMATEXTENSIBLE extensible = ExtensiblePcm(c.channels, c.bits, c.rate);
    WAVEFORMATEX plain = PlainPcm(c.channels, c.bits, c.rate);
    EXPECT_EQ(pin->IsFormatSupported(c.extensible ? &extensible.Format : &plain), c.supported);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatSupport,
    ::testing::Values(FormatCase{"ExtensibleStereo24At48k", 2, 24, 48000, true, TRUE},
                      FormatCase{"PlainStereo16At44k", 2, 16, 44100, false, TRUE},
                      FormatCase{"ThreeChannels", 3, 24, 48000, true, FALSE},
                      FormatCase{"RateAboveTheRange", 2, 24, 96000, true, FALSE},
                      FormatCase{"RateBelowTheRange", 2, 24, 32000, false, FALSE},
                      FormatCase{"ThirtyTwoBits", 2, 32, 48000, true, FALSE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PinTest, AFloatExtensibleFormatIsNotAPcmRangesFormat)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    format.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    EXPECT_FALSE(pin->IsFormatSupported(&format.Format));
}

TEST_F(PinTest, TheConnectionRequestIsLaidOutByteForByte)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    std::vector<uint8_t> bytes = Request(*pin);
    ASSERT_EQ(bytes.size(), kWaveOffset + 18);
    EXPECT_EQ(bytes.size(), k64 ? 154u : 146u);
    EXPECT_TRUE(At<GUID>(bytes, 0) == KSINTERFACESETID_Standard);
    EXPECT_EQ(At<ULONG>(bytes, 16), 0u);
    EXPECT_EQ(At<ULONG>(bytes, 20), 0u);
    EXPECT_TRUE(At<GUID>(bytes, 24) == KSMEDIUMSETID_Standard);
    EXPECT_EQ(At<ULONG>(bytes, 40), 0u);
    EXPECT_EQ(At<ULONG>(bytes, 48), 0u);  // pin id
    EXPECT_EQ(At<void*>(bytes, k64 ? 56 : 52), nullptr);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset - 8), 0x40000000u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset - 4), 1u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset), 82u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset + 4), 0u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset + 12), 0u);
    EXPECT_TRUE(At<GUID>(bytes, kFormatOffset + 16) == KSDATAFORMAT_TYPE_AUDIO);
    EXPECT_TRUE(At<GUID>(bytes, kFormatOffset + 32) == KSDATAFORMAT_SUBTYPE_PCM);
    EXPECT_TRUE(At<GUID>(bytes, kFormatOffset + 48) == KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
}

TEST_F(PinTest, APlainFormatKeepsTheRequestAndAnExtensibleOneGrowsIt)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    WAVEFORMATEX plain = PlainPcm(2, 16, 44100);
    ASSERT_EQ(pin->SetFormat(&plain), S_OK);
    std::vector<uint8_t> bytes = Request(*pin);
    EXPECT_EQ(bytes.size(), k64 ? 154u : 146u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset), 82u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset + 8), 4u);
    EXPECT_EQ(memcmp(bytes.data() + kWaveOffset, &plain, 18), 0);

    WAVEFORMATEXTENSIBLE extensible = ExtensiblePcm(2, 24, 48000);
    ASSERT_EQ(pin->SetFormat(&extensible.Format), S_OK);
    bytes = Request(*pin);
    EXPECT_EQ(bytes.size(), k64 ? 176u : 168u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset), 104u);
    EXPECT_EQ(At<ULONG>(bytes, kFormatOffset + 8), 6u);  // SampleSize of 2 x 24 bits
    EXPECT_EQ(memcmp(bytes.data() + kWaveOffset, &extensible, 40), 0);
    EXPECT_TRUE(At<GUID>(bytes, 0) == KSINTERFACESETID_Standard);  // the head survived the move
    ASSERT_NE(pin->GetFormat(), nullptr);
    EXPECT_EQ(memcmp(pin->GetFormat(), &extensible, 40), 0);
}

TEST_F(PinTest, APcmFormatWithAnExtensionCarriesOnlyTheBareRecord)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    format.Format.wFormatTag = WAVE_FORMAT_PCM;  // cbSize stays 22
    ASSERT_EQ(pin->SetFormat(&format.Format), S_OK);
    EXPECT_EQ(pin->GetConnectionRequestSize(), kWaveOffset + 18);
    EXPECT_EQ(At<ULONG>(Request(*pin), kFormatOffset), 82u);
    EXPECT_EQ(pin->GetFormat()->cbSize, 0u);
}

TEST_F(PinTest, SetFormatWithoutAFormatFails)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    TraceCapture capture(1);
    EXPECT_EQ(pin->SetFormat(NULL), E_FAIL);
    EXPECT_TRUE(capture.Has("pwfx or m_pksDataFormatWfx are NULL"));
}

TEST_F(PinTest, InstantiateCreatesAPinInstanceThatStartsStopped)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    ASSERT_EQ(pin->SetFormat(&format.Format), S_OK);
    ASSERT_EQ(pin->Instantiate(FALSE), S_OK);
    EXPECT_TRUE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));
    EXPECT_EQ(pin->GetState(), KSSTATE_STOP);
    EXPECT_EQ(pin->SetState(KSSTATE_ACQUIRE), S_OK);
    EXPECT_EQ(pin->GetState(), KSSTATE_ACQUIRE);
}

TEST_F(PinTest, AFailedSetStateKeepsTheState)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    pin->SetFormat(&format.Format);
    ASSERT_EQ(pin->Instantiate(FALSE), S_OK);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), S_OK);
    TraceCapture capture(1);
    EXPECT_EQ(pin->SetState(KSSTATE(7)), E_FAIL);
    EXPECT_EQ(pin->GetState(), KSSTATE_PAUSE);
    EXPECT_TRUE(capture.Has("Failed to Set Pin State"));
}

TEST_F(PinTest, ClosePinOnAPinNeverInstantiatedDoesNothing)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    TraceCapture capture(6);
    pin->ClosePin();
    EXPECT_EQ(capture.Count("CKsPin::SetState() Enter"), 0u);
    EXPECT_EQ(pin->GetHandle(), INVALID_HANDLE_VALUE);
}

TEST_F(PinTest, ClosePinStopsThePinBeforeClosingIt)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    pin->SetFormat(&format.Format);
    ASSERT_EQ(pin->Instantiate(FALSE), S_OK);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), S_OK);
    size_t handles = umsim::OpenHandleCount();
    TraceCapture capture(6);
    pin->ClosePin();
    size_t close = capture.Find("CKsIrpTarget::SafeCloseHandle() Enter");
    ASSERT_NE(close, std::string::npos);
    EXPECT_NE(capture.Find("CKsPin::SetState() Enter"), std::string::npos);
    EXPECT_LT(capture.Find("CKsPin::SetState() Enter"), close);
    EXPECT_EQ(pin->GetState(), KSSTATE_STOP);
    EXPECT_EQ(pin->GetHandle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(umsim::OpenHandleCount(), handles - 1);
}

TEST_F(PinTest, ALoopedInstanceAsksForTheLoopedInterface)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    pin->SetFormat(&format.Format);
    // The pin offers only the standard interface, so the looped one is refused.
    EXPECT_TRUE(FAILED(pin->Instantiate(TRUE)));
    EXPECT_EQ(At<ULONG>(Request(*pin), 16), 1u);
    EXPECT_EQ(pin->Instantiate(FALSE), S_OK);
    EXPECT_EQ(At<ULONG>(Request(*pin), 16), 0u);
}

TEST_F(PinTest, StreamRequestsOnAClosedPinFail)
{
    auto pin = BootRenderPin();
    ASSERT_NE(pin, nullptr);
    KSSTREAM_HEADER header{};
    header.Size = sizeof header;
    OVERLAPPED overlapped{};
    TraceCapture capture(1);
    EXPECT_EQ(pin->WriteData(&header, &overlapped), E_FAIL);
    EXPECT_EQ(pin->ReadData(&header, &overlapped), E_FAIL);
    EXPECT_TRUE(capture.Has("CKsPin::WriteData's DeviceIoControl Failed!  Error=0x0x000006"));
    EXPECT_TRUE(capture.Has("DeviceIoControl Failed!  Error=0x00000006"));
}
