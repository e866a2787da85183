// The driver object through IASIO on the kernel driver's real filters:
// opening the device, channels, buffer size, sample rates and buffers.
#include "asiohost.h"

#include "audioformats.h"
#include "ksaudfilter.h"

#include <cstring>

using namespace asiotest;

namespace {

class AsioDriver : public AsioTest {};

}  // namespace

TEST_F(AsioDriver, RefusedRateFallsBackTo48000WithOneMessage)
{
    Boot(umtest::kAudioMidiProduct);
    // Another client holds the device at 48000 Hz, so 44100 cannot be opened.
    HRESULT hr = E_FAIL;
    CKsAudFilter other(FirstPath().c_str(), &hr);
    ASSERT_EQ(other.Instantiate(), S_OK);
    ASSERT_EQ(other.EnumeratePins(), S_OK);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    CKsAudPin* held = other.CreateCapturePin(&format.Format, FALSE);
    ASSERT_NE(held, nullptr);
    SetPref("SampleRate", 44100);

    IASIO* asio = CreateAndInit();
    ASIOSampleRate rate = 0;
    EXPECT_EQ(asio->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 48000.0);
    auto boxes = umsim::MessageBoxesShown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("Unable to set the desired sample rate.", 0), 0u);
    EXPECT_EQ(boxes[0].caption, "Marvolan USB ASIO Driver");
    EXPECT_EQ(boxes[0].flags, UINT(MB_OK | MB_ICONWARNING));
    held->ClosePin();
}

TEST_F(AsioDriver, FilterWithTwoRenderPinsIsSkipped)
{
    BootWith(umtest::DriverEntryOfMrvUsbAudio(), umtest::NewTwoRenderStreamDevice());
    ModuleTrace trace(1);
    IASIO* asio = Create();
    SetPref("SampleFormat", 1);
    EXPECT_EQ(asio->init(NULL), ASIOFalse);
    EXPECT_TRUE(trace.Has("Incorrect number of render pins (2)\n"));
    char message[124] = {};
    asio->getErrorMessage(message);
    EXPECT_NE(std::string(message).find("output streams"), std::string::npos) << message;

    // With a usable device beside it, that one is opened.
    m_machine->Plug(umtest::NewProductDevice(umtest::kAudioMidiProduct));
    m_asio->Release();
    asio = CreateAndInit();
    LONG inputs = 0, outputs = 0;
    EXPECT_EQ(asio->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(outputs, 4);
}

TEST_F(AsioDriver, BufferSizeIsFixedByTheFirstQuery)
{
    Boot(umtest::kAudioMidiProduct);
    SetUrbSizeAsAnotherClient(10);
    SetPref("SampleRate", 44100);
    IASIO* asio = CreateAndInit();
    LONG min = 0, max = 0, preferred = 0, granularity = -1;
    ASSERT_EQ(asio->getBufferSize(&min, &max, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(min, 444);
    EXPECT_EQ(max, 444);
    EXPECT_EQ(preferred, 444);
    EXPECT_EQ(granularity, 0);

    SetUrbSizeAsAnotherClient(20);
    ASSERT_EQ(asio->getBufferSize(&min, &max, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(preferred, 444);
    // The rate in force is still accepted; any other is not, now that the
    // host knows the buffer size.
    EXPECT_EQ(asio->canSampleRate(44100), ASE_OK);
    EXPECT_EQ(asio->canSampleRate(48000), ASE_NoClock);
    EXPECT_EQ(asio->setSampleRate(48000), ASE_NoClock);
}

TEST_F(AsioDriver, ChannelsOfA4Out2InDevice)
{
    Boot(umtest::kAudioMidiProduct);
    IASIO* asio = CreateAndInit();
    LONG inputs = 0, outputs = 0;
    ASSERT_EQ(asio->getChannels(&inputs, &outputs), ASE_OK);
    ASSERT_EQ(inputs, 2);
    ASSERT_EQ(outputs, 4);
    for (ASIOBool isInput : {ASIOFalse, ASIOTrue}) {
        for (LONG channel = -1; channel <= (isInput ? inputs : outputs); ++channel) {
            ASIOChannelInfo info{};
            info.channel = channel;
            info.isInput = isInput;
            bool inRange = channel >= 0 && channel < (isInput ? inputs : outputs);
            ASSERT_EQ(asio->getChannelInfo(&info), inRange ? ASE_OK : ASE_InvalidParameter) << channel;
            if (!inRange) continue;
            EXPECT_EQ(info.name, (isInput ? "Input " : "Output ") + std::to_string(channel + 1));
            EXPECT_EQ(info.type, ASIOSTInt24LSB);
            EXPECT_EQ(info.isActive, ASIOFalse);
        }
    }
    EXPECT_EQ(asio->future(kAsioCanTimeInfo, NULL), ASE_SUCCESS);
    EXPECT_EQ(asio->future(kAsioCanInputMonitor, NULL), ASE_NotPresent);
}

struct BadBuffers {
    const char* name;
    LONG sizeDelta;      // added to the buffer size
    ASIOBool isInput;
    LONG channel;
    ASIOError expected;
};

class AsioCreateBuffers : public AsioTest, public ::testing::WithParamInterface<BadBuffers> {};

// A refused call allocates nothing and leaves the host's records as they were.
TEST_P(AsioCreateBuffers, RefusedCallsChangeNothing)
{
    Boot(umtest::kAudioMidiProduct);
    IASIO* asio = CreateAndInit();
    LONG ignored = 0, size = 0;
    ASSERT_EQ(asio->getBufferSize(&ignored, &ignored, &size, &ignored), ASE_OK);
    void* const untouched = reinterpret_cast<void*>(0x5A5A);
    ASIOBufferInfo infos[2] = {{ASIOFalse, 0, {untouched, untouched}},
                               {GetParam().isInput, GetParam().channel, {untouched, untouched}}};
    EXPECT_EQ(asio->createBuffers(infos, 2, size + GetParam().sizeDelta, HostCallbacks()), GetParam().expected);
    for (const ASIOBufferInfo& info : infos) {
        EXPECT_EQ(info.buffers[0], untouched);
        EXPECT_EQ(info.buffers[1], untouched);
    }
    // Nothing was made: start still finds no buffers.
    EXPECT_EQ(asio->start(), ASE_InvalidMode);
    ASIOChannelInfo channel{0, ASIOFalse};
    ASSERT_EQ(asio->getChannelInfo(&channel), ASE_OK);
    EXPECT_EQ(channel.isActive, ASIOFalse);
}

INSTANTIATE_TEST_SUITE_P(Arguments, AsioCreateBuffers,
                         ::testing::Values(BadBuffers{"WrongSize", 4, ASIOFalse, 1, ASE_InvalidMode},
                                           BadBuffers{"OutputBeyondLast", 0, ASIOFalse, 4, ASE_InvalidParameter},
                                           BadBuffers{"InputBeyondLast", 0, ASIOTrue, 2, ASE_InvalidParameter},
                                           BadBuffers{"NegativeChannel", 0, ASIOTrue, -1, ASE_InvalidParameter}),
                         [](const auto& info) { return std::string(info.param.name); });
