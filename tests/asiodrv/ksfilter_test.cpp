// CKsFilter and CKsAudFilter against the driver's filters and the scripted
// filter: opening, pin enumeration and classification, nodes, pin search.
#include "audioformats.h"
#include "ksaudfilter.h"
#include "machinefixture.h"
#include "tracecapture.h"

#include "um/umverifier.h"

namespace {

using umtest::FakeFilterScenario;
using umtest::FakePin;
using umtest::FakeRanges;

FakePin Pin(uint32_t dataFlow, uint32_t communication, FakeRanges ranges = FakeRanges::Pcm)
{
    FakePin pin;
    pin.dataFlow = dataFlow;
    pin.communication = communication;
    pin.ranges = ranges;
    return pin;
}

class FilterTest : public umtest::MachineTest {
protected:
    void TearDown() override
    {
        m_filter.reset();
        MachineTest::TearDown();
    }
    // Opens the first audio interface as an audio filter.
    void Open(const std::string& path)
    {
        HRESULT hr = E_FAIL;
        m_filter = std::make_unique<CKsAudFilter>(path.c_str(), &hr);
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(m_filter->Instantiate(), S_OK);
    }
    std::unique_ptr<CKsAudFilter> m_filter;
};

}  // namespace

TEST(Filter, ANullPathIsAnInvalidArgument)
{
    TraceCapture capture(1);
    HRESULT hr = S_OK;
    CKsFilter filter(NULL, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_TRUE(capture.Has("pszName cannot be NULL"));
}

TEST(Filter, APathThatDoesNotExistFailsToInstantiateWithTheSystemError)
{
    TraceCapture capture(1);
    HRESULT hr = E_FAIL;
    const char* path = "\\\\?\\usb#vid_0000&pid_0000#none#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";
    CKsFilter filter(path, &hr);
    EXPECT_EQ(filter.Instantiate(), E_FAIL);
    EXPECT_EQ(filter.GetHandle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(capture.Has(std::string("CKsFilter::Instantiate: CreateFile failed for device ") + path +
                            ".  ErrorCode = 0x00000002"));
}

TEST(Filter, ALongPathIsCutToTheBuffer)
{
    std::string path(400, 'p');
    HRESULT hr = E_FAIL;
    CKsFilter filter(path.c_str(), &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(std::string(filter.GetDevicePath()), path.substr(0, MAX_PATH - 1));
}

TEST_F(FilterTest, TheDriversAudioFilterListsARenderAndACaptureSinkPin)
{
    Boot(umtest::kAudioMidiProduct);
    bool found = false;
    for (const std::string& path : m_paths) {
        Open(path);
        if (m_filter->EnumeratePins() == S_OK) {
            found = true;
            break;
        }
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(m_filter->m_listRenderSinkPins.Count(), 1u);
    EXPECT_EQ(m_filter->m_listCaptureSinkPins.Count(), 1u);
    auto* render = static_cast<CKsAudPin*>(m_filter->m_listRenderSinkPins.First()->pData);
    auto* capture = static_cast<CKsAudPin*>(m_filter->m_listCaptureSinkPins.First()->pData);
    EXPECT_EQ(render->GetPinType(), CKsPin::kPinTypeRender);
    EXPECT_EQ(capture->GetPinType(), CKsPin::kPinTypeCapture);
    EXPECT_GT(render->m_listDataRange.Count(), 0u);
}

TEST_F(FilterTest, AMidiOnlyFilterHasNoAudioPins)
{
    Boot(umtest::kRawMidiProduct);
    for (const std::string& path : m_paths) {
        Open(path);
        TraceCapture capture(1);
        EXPECT_EQ(m_filter->EnumeratePins(), E_FAIL);
        EXPECT_TRUE(m_filter->m_listPins.IsEmpty());
        EXPECT_TRUE(capture.Has("No valid pins found on the filter"));
        // The generic enumeration still sees the MIDI pins.
        EXPECT_EQ(m_filter->CKsFilter::EnumeratePins(), S_OK);
        EXPECT_FALSE(m_filter->m_listPins.IsEmpty());
        m_filter.reset();
    }
}

TEST_F(FilterTest, TheDriversTopologyNodesAreListedInOrder)
{
    Boot(umtest::kAudioMidiProduct);
    Open(FirstPath());
    ASSERT_EQ(m_filter->EnumerateNodes(), S_OK);
    ULONG index = 0;
    for (auto* entry = m_filter->m_listNodes.First(); entry; entry = entry->pNext) {
        EXPECT_EQ(entry->pData->GetNodeIndex(), index++);
    }
}

TEST_F(FilterTest, AFilterWithoutNodesHasAnEmptyNodeList)
{
    FakeFilterScenario scenario;
    scenario.pins = {Pin(1, 1)};
    BootFake(scenario);
    Open(FirstPath());
    EXPECT_EQ(m_filter->EnumerateNodes(), S_OK);
    EXPECT_EQ(m_filter->m_listNodes.Count(), 0u);
}

TEST_F(FilterTest, APinCountThatCannotBeReadLeavesNoPins)
{
    FakeFilterScenario scenario;
    scenario.pins = {Pin(1, 1)};
    scenario.failPinCount = true;
    BootFake(scenario);
    Open(FirstPath());
    TraceCapture capture(1);
    EXPECT_EQ(m_filter->EnumeratePins(), E_FAIL);
    EXPECT_TRUE(capture.Has("Failed to retrieve count of pins in audio filter"));
    EXPECT_TRUE(capture.Has("No valid pins found on the filter"));
}

TEST_F(FilterTest, APinOfCommunicationBothIsListedTwiceAndDeletedOnce)
{
    FakeFilterScenario scenario;
    scenario.pins = {Pin(1, 3)};
    BootFake(scenario);
    Open(FirstPath());
    ASSERT_EQ(m_filter->EnumeratePins(), S_OK);
    EXPECT_EQ(m_filter->m_listPins.Count(), 1u);
    EXPECT_EQ(m_filter->m_listRenderSinkPins.Count(), 1u);
    EXPECT_EQ(m_filter->m_listRenderSourcePins.Count(), 1u);
    EXPECT_EQ(m_filter->m_listRenderSinkPins.First()->pData, m_filter->m_listRenderSourcePins.First()->pData);
    // Neither a render nor a capture pin: a plain audio pin.
    EXPECT_EQ(m_filter->m_listPins.First()->pData->GetPinType(), CKsPin::kPinTypePlain);
    TraceCapture capture(6);
    EXPECT_EQ(m_filter->DestroyLists(), S_OK);
    EXPECT_EQ(capture.Count("CKsPin::~CKsPin() Enter"), 1u);
    EXPECT_TRUE(m_filter->m_listRenderSourcePins.IsEmpty());
}

TEST_F(FilterTest, APinWithoutCommunicationIsOnlyTakenByTheGenericEnumeration)
{
    FakeFilterScenario scenario;
    scenario.pins = {Pin(1, 0), Pin(2, 1)};
    BootFake(scenario);
    Open(FirstPath());
    {
        TraceCapture capture(1);
        EXPECT_EQ(m_filter->EnumeratePins(), S_OK);
        EXPECT_TRUE(capture.Has("Pin communication value doesn't make sense"));
        EXPECT_EQ(m_filter->m_listPins.Count(), 1u);
        EXPECT_TRUE(m_filter->m_listNoCommPins.IsEmpty());
    }
    m_filter->DestroyLists();
    EXPECT_EQ(m_filter->CKsFilter::EnumeratePins(), S_OK);
    EXPECT_EQ(m_filter->m_listPins.Count(), 2u);
    EXPECT_EQ(m_filter->m_listNoCommPins.Count(), 1u);
    EXPECT_EQ(m_filter->m_listCaptureSinkPins.Count(), 1u);
}

TEST_F(FilterTest, AFormatNoRenderPinAcceptsCreatesNothing)
{
    FakeFilterScenario scenario;
    scenario.pins = {Pin(1, 1), Pin(2, 1)};
    BootFake(scenario);
    Open(FirstPath());
    ASSERT_EQ(m_filter->EnumeratePins(), S_OK);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 96000);
    TraceCapture capture(4);
    EXPECT_FALSE(m_filter->CanCreateRenderPin(&format.Format));
    EXPECT_EQ(m_filter->CreateRenderPin(&format.Format, FALSE), nullptr);
    EXPECT_EQ(capture.Count("Could not find a Render pin that supports the given wave format"), 2u);
    EXPECT_EQ(m_filter->CreateCapturePin(&format.Format, FALSE), nullptr);
    EXPECT_TRUE(capture.Has("Could not find a Capture pin that supports the given wave format"));
}

TEST_F(FilterTest, APinThatRefusesTheFormatItListsIsNotCreated)
{
    FakeFilterScenario scenario;
    FakePin liar = Pin(1, 1);
    liar.refuseCreate = true;
    scenario.pins = {liar};
    BootFake(scenario);
    Open(FirstPath());
    ASSERT_EQ(m_filter->EnumeratePins(), S_OK);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    EXPECT_TRUE(m_filter->CanCreateRenderPin(&format.Format));
    TraceCapture capture(1);
    EXPECT_EQ(m_filter->CreateRenderPin(&format.Format, FALSE), nullptr);
    EXPECT_TRUE(capture.Has("Failed to instantiate Render Pin"));
    EXPECT_TRUE(capture.Has("Failed to instantiate pin. hr=0x80070491"));  // ERROR_NO_MATCH
}

TEST_F(FilterTest, TheSameFormatTwiceGivesTheSamePinWithOneInstance)
{
    FakeFilterScenario scenario;
    scenario.pins = {Pin(1, 1)};
    BootFake(scenario);
    Open(FirstPath());
    ASSERT_EQ(m_filter->EnumeratePins(), S_OK);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 16, 44100);
    CKsAudPin* first = m_filter->CreateRenderPin(&format.Format, FALSE);
    ASSERT_NE(first, nullptr);
    size_t handles = umsim::OpenHandleCount();
    CKsAudPin* second = m_filter->CreateRenderPin(&format.Format, FALSE);
    EXPECT_EQ(second, first);
    EXPECT_EQ(umsim::OpenHandleCount(), handles);  // the first instance was closed, not orphaned
}
