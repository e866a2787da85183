// Icons and bitmaps from the program's resources, and the readers of their
// resource forms on malformed bytes.
#include <windows.h>

#include "um/user32/imageresource.h"

#include <gtest/gtest.h>

namespace {

TEST(Images, LoadFromTheModulesResourcesOnceAndShared)
{
    HINSTANCE program = GetModuleHandleA(NULL);
    HICON icon = LoadIconA(program, MAKEINTRESOURCEA(107));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconW(program, MAKEINTRESOURCEW(107)), icon) << "a shared icon is loaded once";
    EXPECT_NE(LoadImageW(program, MAKEINTRESOURCEW(107), IMAGE_ICON, 16, 16, 0), nullptr);
    EXPECT_NE(LoadImageA(program, "#206", IMAGE_BITMAP, 0, 0, 0), nullptr);

    EXPECT_EQ(LoadIconA(program, MAKEINTRESOURCEA(108)), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadImageA(program, MAKEINTRESOURCEA(107), IMAGE_BITMAP, 0, 0, 0), nullptr) << "107 is no bitmap";
    EXPECT_EQ(LoadImageA(program, MAKEINTRESOURCEA(107), IMAGE_CURSOR, 0, 0, 0), nullptr);
    EXPECT_EQ(LoadImageA(program, "file.ico", IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
}

struct Bytes {
    const char* name;
    std::vector<uint8_t> data;
};

class MalformedIconGroup : public testing::TestWithParam<Bytes> {};

TEST_P(MalformedIconGroup, IsRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(umsim::ParseIconGroup(GetParam().data.data(), GetParam().data.size(), &error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedIconGroup,
    testing::Values(Bytes{"Short", {0, 0, 1}}, Bytes{"NotAGroup", {0, 0, 2, 0, 1, 0}},
                    Bytes{"NoIcons", {0, 0, 1, 0, 0, 0}},
                    Bytes{"EntriesPastTheEnd", {0, 0, 1, 0, 2, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0, 1, 0, 0, 1, 0}}),
    [](const auto& info) { return info.param.name; });

class MalformedBitmap : public testing::TestWithParam<Bytes> {};

TEST_P(MalformedBitmap, IsRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(umsim::ParseBitmapSize(GetParam().data.data(), GetParam().data.size(), &error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedBitmap,
                         testing::Values(Bytes{"Short", {40, 0}}, Bytes{"HeaderPastTheEnd", {40, 0, 0, 0, 1, 0}},
                                         Bytes{"UnknownHeader", {16, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
                                         Bytes{"CoreHeaderWithoutPixels", {12, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0}},
                                         Bytes{"NoPixels", [] {
                                                   std::vector<uint8_t> header(40, 0);
                                                   header[0] = 40;
                                                   return header;
                                               }()}),
                         [](const auto& info) { return info.param.name; });

TEST(Images, TopDownBitmapsHaveAPositiveHeight)
{
    std::vector<uint8_t> header(40, 0);
    header[0] = 40;
    header[4] = 8;                                    // width 8
    header[8] = 0xFE, header[9] = header[10] = header[11] = 0xFF;  // height -2
    auto size = umsim::ParseBitmapSize(header.data(), header.size());
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 8);
    EXPECT_EQ(size->height, 2);
}

}  // namespace
