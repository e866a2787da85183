// Published layouts of the Win32 and kernel-streaming records, for the
// build's word size.
#include <windows.h>
#include <ks.h>
#include <ksmedia.h>
#include <setupapi.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstddef>

constexpr bool k64 = sizeof(void*) == 8;

TEST(Layout, KernelStreamingRequests)
{
    EXPECT_EQ(sizeof(KSPROPERTY), 24u);
    EXPECT_EQ(sizeof(KSP_PIN), 32u);
    EXPECT_EQ(sizeof(KSMULTIPLE_ITEM), 8u);
    EXPECT_EQ(sizeof(KSDATAFORMAT), 64u);
    EXPECT_EQ(sizeof(KSDATARANGE_AUDIO), 88u);
    EXPECT_EQ(sizeof(KSPIN_CINSTANCES), 8u);
    EXPECT_EQ(sizeof(KSPIN_CONNECT), k64 ? 72u : 64u);
    EXPECT_EQ(offsetof(KSPIN_CONNECT, PinId), 48u);
    EXPECT_EQ(offsetof(KSPIN_CONNECT, PinToHandle), k64 ? 56u : 52u);
    EXPECT_EQ(offsetof(KSPIN_CONNECT, Priority), k64 ? 64u : 56u);
    EXPECT_EQ(sizeof(KSSTREAM_HEADER), k64 ? 56u : 48u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, Data), 40u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, OptionsFlags), k64 ? 48u : 44u);
    EXPECT_EQ(sizeof(KSEVENTDATA), k64 ? 32u : 16u);
}

TEST(Layout, WaveFormats)
{
    EXPECT_EQ(sizeof(WAVEFORMATEX), 18u);
    EXPECT_EQ(sizeof(WAVEFORMATEXTENSIBLE), 40u);
    EXPECT_EQ(sizeof(KSDATAFORMAT_WAVEFORMATEX), 88u);
}

TEST(Layout, Win32Records)
{
    EXPECT_EQ(sizeof(OVERLAPPED), k64 ? 32u : 20u);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DATA), k64 ? 32u : 28u);
    EXPECT_EQ(sizeof(SP_DEVINFO_DATA), k64 ? 32u : 28u);
    EXPECT_EQ(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath), 4u);
    EXPECT_EQ(sizeof(INFCONTEXT), k64 ? 24u : 16u);
    EXPECT_EQ(sizeof(SP_DRVINFO_DATA_V2_A), k64 ? 800u : 796u);
    EXPECT_EQ(sizeof(SP_DRVINFO_DETAIL_DATA_A), k64 ? 808u : 797u);
    EXPECT_EQ(offsetof(SP_DRVINFO_DETAIL_DATA_A, InfFileName), k64 ? 288u : 280u);
    EXPECT_EQ(sizeof(SP_DRVINSTALL_PARAMS), k64 ? 32u : 20u);
    EXPECT_EQ(sizeof(SP_DEVINSTALL_PARAMS_A), k64 ? 320u : 296u);
    EXPECT_EQ(sizeof(COINSTALLER_CONTEXT_DATA), k64 ? 16u : 12u);
    EXPECT_EQ(sizeof(HRESULT), 4u);
    EXPECT_EQ(sizeof(DWORD), 4u);
    EXPECT_EQ(sizeof(LONG), 4u);
}

TEST(Layout, ControlCodes)
{
    EXPECT_EQ(IOCTL_KS_PROPERTY, 0x002F0003u);
    EXPECT_EQ(IOCTL_KS_ENABLE_EVENT, 0x002F0007u);
    EXPECT_EQ(IOCTL_KS_WRITE_STREAM, 0x002F8013u);
    EXPECT_EQ(IOCTL_KS_READ_STREAM, 0x002F4017u);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), HRESULT(0x80070002));
}

TEST(Layout, UserInterfaceRecords)
{
    EXPECT_EQ(sizeof(DLGTEMPLATE), 18u);
    EXPECT_EQ(sizeof(DLGITEMTEMPLATE), 18u);
    EXPECT_EQ(sizeof(NMHDR), k64 ? 24u : 12u);
    EXPECT_EQ(sizeof(NMCUSTOMDRAW), k64 ? 80u : 48u);
    EXPECT_EQ(offsetof(NMCUSTOMDRAW, rc), k64 ? 40u : 20u);
    EXPECT_EQ(sizeof(INITCOMMONCONTROLSEX), 8u);
    EXPECT_EQ(sizeof(MSG), k64 ? 48u : 28u);
    EXPECT_EQ(DWLP_DLGPROC, k64 ? 8u : 4u);
    EXPECT_EQ(DWLP_USER, k64 ? 16u : 8u);
    EXPECT_EQ(NM_CUSTOMDRAW, 0xFFFFFFF4u);
    EXPECT_EQ(NM_RELEASEDCAPTURE, 0xFFFFFFF0u);
}
