// FindResource/LoadResource/SizeofResource and LoadString over the test
// program's own resources (testresources.rc), and the .res reader on bad images.
#include <windows.h>

#include "um/kernel32/resfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Bytes(HMODULE module, LPCSTR name, LPCSTR type)
{
    HRSRC info = FindResourceA(module, name, type);
    if (!info) return "error " + std::to_string(GetLastError());
    auto* data = static_cast<const char*>(LockResource(LoadResource(module, info)));
    return std::string(data, SizeofResource(module, info));
}

TEST(Resources, FindsByIdByNameAndByNumberText)
{
    EXPECT_EQ(Bytes(NULL, MAKEINTRESOURCEA(7), RT_RCDATA), std::string("\1\0\2\0\3\0", 6));
    EXPECT_EQ(Bytes(NULL, "#7", "#10"), std::string("\1\0\2\0\3\0", 6));
    EXPECT_EQ(Bytes(NULL, "legend", RT_RCDATA), std::string("named\0\0", 7));  // names ignore case
    EXPECT_EQ(Bytes(NULL, "nosuch", RT_RCDATA), "error " + std::to_string(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(Bytes(NULL, "legend", RT_MENU), "error " + std::to_string(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(Bytes(reinterpret_cast<HMODULE>(uintptr_t(0x1000)), "legend", RT_RCDATA),
              "error " + std::to_string(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(FindResourceW(NULL, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)), nullptr);  // VS_VERSION_INFO
}

struct StringCase {
    UINT id;
    int room;
    const char* text;  // null: not found
};

class LoadStringCases : public testing::TestWithParam<StringCase> {};

TEST_P(LoadStringCases, CopiesCutsAndTerminatesAsWindows)
{
    const StringCase& c = GetParam();
    char buffer[64];
    memset(buffer, 'x', sizeof buffer);
    SetLastError(0);
    int length = LoadStringA(NULL, c.id, buffer, c.room);
    std::string expected = c.text ? c.text : "";
    EXPECT_EQ(length, int(expected.size()));
    EXPECT_STREQ(buffer, expected.c_str());
    if (!c.text) {
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoadStringCases,
    testing::Values(StringCase{1, 64, "First"}, StringCase{17, 64, "Seventeen, in block two"},
                    StringCase{18, 64, "Caf\xE9"}, StringCase{300, 9, "A string"}, StringCase{1, 1, ""},
                    StringCase{2, 64, nullptr}, StringCase{4000, 64, nullptr}));

TEST(Resources, LoadStringWithNoRoomGivesTheTableString)
{
    const WCHAR* text = nullptr;
    ASSERT_EQ(LoadStringW(NULL, 17, reinterpret_cast<LPWSTR>(&text), 0), 23);
    EXPECT_EQ(std::u16string(text, 9), u"Seventeen");
    WCHAR cut[4];
    EXPECT_EQ(LoadStringW(NULL, 1, cut, 4), 3);
    EXPECT_EQ(std::u16string(cut), u"Fir");
}

// A one-entry image: marker, then an RCDATA id 1 entry with `data`.
std::vector<uint8_t> Image(uint32_t dataSize, uint32_t headerSize, size_t actualData)
{
    std::vector<uint8_t> image(32, 0);
    image[4] = 32;
    image[8] = image[9] = image[12] = image[13] = 0xFF;
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) image.push_back(uint8_t(v >> (8 * i)));
    };
    put(dataSize);
    put(headerSize);
    put(0x000AFFFF);
    put(0x0001FFFF);
    for (int i = 0; i < 4; ++i) put(0);
    image.resize(image.size() + actualData, 0xAB);
    return image;
}

TEST(Resources, TheReaderRefusesLengthsThatRunPastTheImage)
{
    std::string error;
    auto good = umsim::ParseResFile(Image(3, 32, 3).data(), Image(3, 32, 3).size(), &error);
    ASSERT_TRUE(good) << error;
    ASSERT_EQ(good->size(), 1u);
    EXPECT_EQ((*good)[0].size, 3u);
    for (auto image : {Image(4, 32, 3), Image(0, 31, 0), Image(0, 4096, 0), Image(0xFFFFFFFF, 32, 0)}) {
        EXPECT_FALSE(umsim::ParseResFile(image.data(), image.size(), &error));
        EXPECT_NE(error.find("resource entry at offset 32"), std::string::npos) << error;
    }
    std::vector<uint8_t> unterminated = Image(0, 32, 0);
    unterminated[32 + 12] = 'A';  // the name, now text, runs to the header's end
    for (size_t i = 32 + 13; i < unterminated.size(); ++i) unterminated[i] = 'A';
    EXPECT_FALSE(umsim::ParseResFile(unterminated.data(), unterminated.size(), &error));
}

}  // namespace
