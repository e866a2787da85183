// GetPrivateProfileStringA as installers use it on INF files: one value,
// the key and section lists, defaults, and the truncation rules.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class ProfileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_path = (std::filesystem::path(testing::TempDir()) / "profile_test.inf").string();
        std::ofstream(m_path, std::ios::binary) << "; heading comment\r\n"
                                                   "[Version]\r\n"
                                                   "  Signature = \"$Windows NT$\"  \r\n"
                                                   "Class=%ClassName%\r\n"
                                                   "Quoted='single'\r\n"
                                                   "Empty=\r\n"
                                                   "[version]\r\n"
                                                   "Class=Second\r\n"
                                                   "[Strings]\r\n"
                                                   "ClassName=MEDIA\r\n";
    }
    void TearDown() override { std::filesystem::remove(m_path); }
    std::string Get(LPCSTR section, LPCSTR key, LPCSTR fallback = "NULL", DWORD size = 260, DWORD* length = nullptr)
    {
        std::string buffer(size + 4, '#');
        DWORD copied = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, m_path.c_str());
        if (length) *length = copied;
        return buffer.substr(0, section && key ? copied : copied + 1);
    }
    std::string m_path;
};

TEST_F(ProfileTest, NamedValuesAreTrimmedUnquotedAndNotSubstituted)
{
    EXPECT_EQ(Get("VERSION", "signature"), "$Windows NT$");
    EXPECT_EQ(Get("Version", "Class"), "%ClassName%");
    EXPECT_EQ(Get("Version", "Quoted"), "single");
    EXPECT_EQ(Get("Version", "Empty"), "");
    EXPECT_EQ(Get("Version", "Missing"), "NULL");
    EXPECT_EQ(Get("Missing", "Class", "fallback  "), "fallback");
    EXPECT_EQ(Get("Missing", "Class", NULL), "");
    char buffer[8];
    EXPECT_EQ(GetPrivateProfileStringA("Version", "Class", "NULL", buffer, sizeof buffer, "/no/such/file.inf"), 4u);
    EXPECT_STREQ(buffer, "NULL");
}

TEST_F(ProfileTest, ValuesAndListsAreCutToTheBuffer)
{
    DWORD length = 0;
    EXPECT_EQ(Get("Version", "Signature", "", 5, &length), "$Win");
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(Get("Version", NULL), std::string("Signature\0Class\0Quoted\0Empty\0", 30));
    EXPECT_EQ(Get(NULL, NULL), std::string("Version\0version\0Strings\0", 25));
    std::string cut = Get("Version", NULL, "", 14, &length);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(cut, std::string("Signature\0Cl\0", 13));
}

}  // namespace
