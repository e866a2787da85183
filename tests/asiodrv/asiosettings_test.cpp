// The driver's settings: what the registry gives and keeps, the control
// panel as a user plays it, and the reset requests to the host.
#include "asiohost.h"

#include "resource.h"

#include "um/windowsroot.h"

using namespace asiotest;

namespace {

class AsioSettings : public AsioTest {
protected:
    bool HasValue(const char* name)
    {
        HKEY key = NULL;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kPrefsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        bool found = RegQueryValueExA(key, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }
};

}  // namespace

TEST_F(AsioSettings, FirstRunShowsThePanelOnceAndStoresOnlyWhatThePanelSets)
{
    Boot(umtest::kAudioMidiProduct);
    IASIO* asio = Create();
    ASSERT_EQ(asio->init(NULL), ASIOTrue);
    auto dialogs = umsim::DialogsShown();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].caption, "Marvolan USB ASIO Control Panel");
    for (const char* written : {"SampleFormat", "SampleRate", "FilterPath"}) EXPECT_TRUE(HasValue(written)) << written;
    for (const char* unwritten : {"NumKsPackets", "BufferSwitchDirect"}) EXPECT_FALSE(HasValue(unwritten)) << unwritten;
}

struct StoredFormat {
    DWORD stored;
    ASIOSampleType type;
};

class AsioSampleFormat : public AsioSettings, public ::testing::WithParamInterface<StoredFormat> {};

TEST_P(AsioSampleFormat, StoredRowChoosesTheChannelTypeAndAnUnknownRowMeans24Bit)
{
    Boot(umtest::kAudioMidiProduct);
    SetPref("SampleFormat", GetParam().stored);
    IASIO* asio = CreateAndInit();
    ASIOChannelInfo info{0, ASIOTrue};
    ASSERT_EQ(asio->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(Rows, AsioSampleFormat,
                         ::testing::Values(StoredFormat{0, ASIOSTInt16LSB}, StoredFormat{1, ASIOSTInt24LSB},
                                           StoredFormat{5, ASIOSTInt24LSB}));

TEST_F(AsioSettings, DebugTraceIsOnForAnyDwordAndOffForAString)
{
    Boot(umtest::kAudioMidiProduct);
    const std::string line = "MrvUsbAsio::init() : SampleRate = 48000\n";
    SetPref("DebugTrace", 0);
    CreateAndInit();
    EXPECT_NE(umsim::TakeDebugOutput().find(line), std::string::npos);
    m_asio->Release();

    SetPrefString("DebugTrace", "1");
    CreateAndInit();
    EXPECT_EQ(umsim::TakeDebugOutput().find(line), std::string::npos);
}

TEST_F(AsioSettings, StoredPacketCountBelowOneMeansOnePacket)
{
    BootLoopback(umtest::kAudioMidiProduct, 3);
    SetPref("NumKsPackets", 0xFFFFFFFF);
    IASIO* asio = CreateAndInit();
    LONG ignored = 0, size = 0;
    ASSERT_EQ(asio->getBufferSize(&ignored, &ignored, &size, &ignored), ASE_OK);
    LONG input = 0, output = 0;
    ASSERT_EQ(asio->getLatencies(&input, &output), ASE_OK);
    EXPECT_EQ(input, size * 1 + 64) << "one packet in flight";
    EXPECT_EQ(output, size * 2 + 64);
}

TEST_F(AsioSettings, PanelShowsLatenciesOfTheTrackbarAndEnablesOkOnAChange)
{
    Boot(umtest::kAudioMidiProduct);
    SetUrbSizeAsAnotherClient(10);
    IASIO* asio = CreateAndInit();
    bool scripted = false;
    umsim::OnDialog(IDD_CONTROLPANEL, [&](umsim::Dialog& panel) {
        scripted = true;
        EXPECT_FALSE(panel.IsEnabled(IDOK));
        EXPECT_EQ(panel.Position(IDC_BUFFERLENGTH), 10);
        EXPECT_EQ(panel.ComboItems(IDC_SAMPLERATE), (std::vector<std::string>{"44100", "48000"}));
        EXPECT_EQ(panel.ComboSelection(IDC_SAMPLERATE), 1);
        EXPECT_EQ(panel.ComboItems(IDC_SAMPLEFORMAT), (std::vector<std::string>{"16 bit", "24 bit"}));
        ASSERT_TRUE(panel.MoveTrackbar(IDC_BUFFERLENGTH, 5));
        EXPECT_EQ(panel.Text(IDC_BUFFERLENGTH_TEXT), "5 ms");
        EXPECT_EQ(panel.Text(IDC_INPUTLATENCY), "11.3 ms");
        EXPECT_EQ(panel.Text(IDC_OUTPUTLATENCY), "16.3 ms");
        EXPECT_TRUE(panel.IsEnabled(IDOK));
        EXPECT_TRUE(panel.Press(IDCANCEL));
    });
    EXPECT_EQ(asio->controlPanel(), ASE_OK);
    EXPECT_TRUE(scripted);
}

TEST_F(AsioSettings, HostIsAskedToResetWhenTheBufferLengthChanges)
{
    Boot(umtest::kAudioMidiProduct);
    IASIO* asio = CreateAndInit();
    LONG ignored = 0, size = 0;
    ASSERT_EQ(asio->getBufferSize(&ignored, &ignored, &size, &ignored), ASE_OK);
    ASIOBufferInfo info{ASIOFalse, 0, {}};
    ASSERT_EQ(asio->createBuffers(&info, 1, size, HostCallbacks()), ASE_OK);

    // Another client of the kernel driver changes it.
    SetUrbSizeAsAnotherClient(5);
    EXPECT_TRUE(Log().WaitFor([] { return std::count(Log().messages.begin(), Log().messages.end(), kAsioResetRequest) >= 1; }));

    // The user changes it in the panel after init; the setting the
    // panel chose reaches the kernel driver and the device path is kept.
    const size_t before = Log().Count(kAsioResetRequest);
    umsim::OnDialog(IDD_CONTROLPANEL, [](umsim::Dialog& panel) {
        panel.MoveTrackbar(IDC_BUFFERLENGTH, 2);
        panel.Press(IDOK);
    });
    EXPECT_EQ(asio->controlPanel(), ASE_OK);
    EXPECT_GT(Log().Count(kAsioResetRequest), before);
    EXPECT_NE(ReadString(HKEY_CURRENT_USER, kPrefsKey, "FilterPath"), "");
    EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
}

// The About box reads both drivers' files: the ASIO driver's own module and
// the kernel driver's in the system directory (not the host's current one).
TEST_F(AsioSettings, AboutBoxShowsBothDriversVersions)
{
    Boot(umtest::kAudioMidiProduct);
    IASIO* asio = CreateAndInit();
    std::vector<std::string> texts;
    umsim::OnDialog(IDD_CONTROLPANEL, [](umsim::Dialog& panel) { panel.Press(IDC_ABOUT); });
    umsim::OnDialog(IDD_ABOUT, [&](umsim::Dialog& about) {
        texts.push_back(about.Text(IDC_VERSIONTEXT));
        about.Press(IDOK);
    });
    EXPECT_EQ(asio->controlPanel(), ASE_OK);
    {
        umsim::WindowsRoot root(::testing::TempDir() + "asio_about_root");
        ASSERT_TRUE(root.Opened()) << root.Error();
        ASSERT_TRUE(root.InstallFile(MRV_KERNEL_MODULE, "C:\\Windows\\System32\\drivers\\mrvusbaudio.sys"));
        EXPECT_EQ(asio->controlPanel(), ASE_OK);
    }
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "ASIO Driver Version: 1.5.4 \n\nWDM Driver Version: 0.0.0.0 ");
    EXPECT_EQ(texts[1], "ASIO Driver Version: 1.5.4 \n\nWDM Driver Version: 1.5.4 ");
}
