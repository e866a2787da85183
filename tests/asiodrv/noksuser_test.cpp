// A machine without "ksuser.dll": the pin loader's first use fails with
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND). Its own program, because the
// loader keeps what it found for the life of the process.
#include "audioformats.h"
#include "ksaudfilter.h"
#include "machinefixture.h"
#include "tracecapture.h"

#include "um/modules.h"

namespace {

class WithoutKsUser : public umtest::MachineTest {
protected:
    void SetUp() override { umsim::SetSystemModuleAvailable("ksuser.dll", false); }
    void TearDown() override
    {
        umsim::SetSystemModuleAvailable("ksuser.dll", true);
        MachineTest::TearDown();
    }
};

}  // namespace

TEST_F(WithoutKsUser, InstantiateReportsFileNotFound)
{
    umtest::FakeFilterScenario scenario;
    scenario.pins.push_back({});
    BootFake(scenario);
    HRESULT hr = E_FAIL;
    CKsAudFilter filter(FirstPath().c_str(), &hr);
    ASSERT_EQ(filter.Instantiate(), S_OK);
    ASSERT_EQ(filter.EnumeratePins(), S_OK);
    auto* pin = static_cast<CKsAudPin*>(filter.m_listRenderSinkPins.First()->pData);
    WAVEFORMATEXTENSIBLE format = ExtensiblePcm(2, 24, 48000);
    ASSERT_EQ(pin->SetFormat(&format.Format), S_OK);
    TraceCapture capture(1);
    EXPECT_EQ(pin->Instantiate(FALSE), HRESULT(0x80070002));
    EXPECT_EQ(pin->GetHandle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(capture.Has("Failed to instantiate pin. hr=0x80070002"));
}
