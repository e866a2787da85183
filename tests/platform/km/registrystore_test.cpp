#include "km/registrystore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

class RegistryStore : public testing::Test {
protected:
    std::filesystem::path root;

    void SetUp() override
    {
        kmsim::Clear();
        // Parameterised names carry a '/', which would leave a parent folder behind.
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        root = std::filesystem::temp_directory_path() /
               ("kmregistry-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" + name);
        std::filesystem::remove_all(root);
    }
    void TearDown() override
    {
        kmsim::Clear();
        std::filesystem::remove_all(root);
    }

    void WriteFile(const std::string& text)
    {
        std::filesystem::create_directories(root);
        std::ofstream(root / "registry.txt", std::ios::binary) << text;
    }
};

TEST_F(RegistryStore, KeysAndValuesAreCaseInsensitiveButKeepTheirNames)
{
    ASSERT_TRUE(kmsim::CreateKey("\\Registry\\Machine\\Software\\Marvolan\\Settings"));
    EXPECT_TRUE(kmsim::KeyExists("\\registry\\MACHINE\\software\\marvolan"));
    EXPECT_EQ(kmsim::ListSubkeys("\\Registry\\Machine\\Software"), std::vector<std::string>{"Marvolan"});
    kmsim::SetDword("\\Registry\\Machine\\Software\\Marvolan", "BufferSize", 10);
    EXPECT_EQ(kmsim::GetDword("\\Registry\\Machine\\Software\\Marvolan", "buffersize"), 10u);
    EXPECT_EQ(kmsim::ListValues("\\Registry\\Machine\\Software\\Marvolan"), std::vector<std::string>{"BufferSize"});
}

TEST_F(RegistryStore, SetStringStoresUtf16WithTerminator)
{
    kmsim::CreateKey("\\Registry\\User\\Test");
    kmsim::SetString("\\Registry\\User\\Test", "", "Aé");
    std::optional<kmsim::RegistryValue> value = kmsim::GetValue("\\Registry\\User\\Test", "");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, ULONG(REG_SZ));
    EXPECT_EQ(value->data, (std::vector<uint8_t>{'A', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ(kmsim::GetString("\\Registry\\User\\Test", ""), "Aé");
}

TEST_F(RegistryStore, ValuesNeedAnExistingKey)
{
    EXPECT_FALSE(kmsim::SetDword("\\Registry\\Machine\\Nowhere", "x", 1));
    EXPECT_FALSE(kmsim::KeyExists("\\Registry\\Machine\\Nowhere"));
}

TEST_F(RegistryStore, DeleteKeyRemovesItsSubtree)
{
    kmsim::CreateKey("\\Registry\\Machine\\A\\B\\C");
    kmsim::SetDword("\\Registry\\Machine\\A\\B\\C", "v", 1);
    EXPECT_TRUE(kmsim::DeleteKey("\\Registry\\Machine\\A"));
    EXPECT_FALSE(kmsim::KeyExists("\\Registry\\Machine\\A\\B\\C"));
    EXPECT_FALSE(kmsim::GetValue("\\Registry\\Machine\\A\\B\\C", "v"));
    EXPECT_FALSE(kmsim::DeleteKey("\\Registry\\Machine\\A"));
}

TEST_F(RegistryStore, ClearKeepsOnlyTheRoots)
{
    kmsim::CreateKey("\\Registry\\Machine\\Software");
    kmsim::Clear();
    EXPECT_TRUE(kmsim::ListSubkeys("\\Registry\\Machine").empty());
    EXPECT_TRUE(kmsim::KeyExists("\\Registry\\User"));
}

TEST_F(RegistryStore, SaveAndLoadRoundTripEveryKeyAndValue)
{
    kmsim::CreateKey("\\Registry\\Machine\\Software\\With Space\\Empty");
    kmsim::SetDword("\\Registry\\Machine\\Software\\With Space", "Count", 7);
    kmsim::SetString("\\Registry\\Machine\\Software\\With Space", "", "default value");
    kmsim::SetString("\\Registry\\Machine\\Software\\With Space", "100% sure", "ü");
    kmsim::SetValue("\\Registry\\Machine\\Software\\With Space", "Nothing", REG_BINARY, {});
    std::string error;
    ASSERT_TRUE(kmsim::SaveTo(root.string(), &error)) << error;
    kmsim::Clear();
    ASSERT_TRUE(kmsim::LoadFrom(root.string(), &error)) << error;
    EXPECT_TRUE(kmsim::KeyExists("\\Registry\\Machine\\Software\\With Space\\Empty"));
    EXPECT_EQ(kmsim::GetDword("\\Registry\\Machine\\Software\\With Space", "Count"), 7u);
    EXPECT_EQ(kmsim::GetString("\\Registry\\Machine\\Software\\With Space", ""), "default value");
    EXPECT_EQ(kmsim::GetString("\\Registry\\Machine\\Software\\With Space", "100% sure"), "ü");
    std::optional<kmsim::RegistryValue> nothing = kmsim::GetValue("\\Registry\\Machine\\Software\\With Space", "Nothing");
    ASSERT_TRUE(nothing);
    EXPECT_EQ(nothing->type, ULONG(REG_BINARY));
    EXPECT_TRUE(nothing->data.empty());
}

TEST_F(RegistryStore, LoadingADirectoryWithoutAFileGivesAnEmptyRegistry)
{
    kmsim::CreateKey("\\Registry\\Machine\\Stale");
    std::string error;
    EXPECT_TRUE(kmsim::LoadFrom(root.string(), &error)) << error;
    EXPECT_FALSE(kmsim::KeyExists("\\Registry\\Machine\\Stale"));
}

struct BadFile {
    const char* name;
    const char* text;
    const char* why;
};

class RegistryBadFile : public RegistryStore, public testing::WithParamInterface<BadFile> {};

TEST_P(RegistryBadFile, IsRefusedWithAReasonAndTheStoreKept)
{
    kmsim::CreateKey("\\Registry\\Machine\\Kept");
    kmsim::SetDword("\\Registry\\Machine\\Kept", "v", 3);
    WriteFile(GetParam().text);
    std::string error;
    EXPECT_FALSE(kmsim::LoadFrom(root.string(), &error));
    EXPECT_NE(error.find(GetParam().why), std::string::npos) << error;
    EXPECT_EQ(kmsim::GetDword("\\Registry\\Machine\\Kept", "v"), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    RegistryStore, RegistryBadFile,
    testing::Values(BadFile{"Empty", "", "not a registry file"},
                    BadFile{"WrongHeader", "REGEDIT4\n", "not a registry file"},
                    BadFile{"ValueBeforeKey", "MRVREGISTRY 1\nV :x 4 01000000\n", "line 2: value before any key"},
                    BadFile{"OddHex", "MRVREGISTRY 1\nK \\Registry\\Machine\\A\nV :x 4 010\n", "line 3: odd number"},
                    BadFile{"BadHex", "MRVREGISTRY 1\nK \\Registry\\Machine\\A\nV :x 4 zz\n", "malformed value data"},
                    BadFile{"BadType", "MRVREGISTRY 1\nK \\Registry\\Machine\\A\nV :x four 00\n", "value type"},
                    BadFile{"HugeType", "MRVREGISTRY 1\nK \\Registry\\Machine\\A\nV :x 99999999999 00\n",
                            "value type"},
                    BadFile{"BadEscape", "MRVREGISTRY 1\nK \\Registry\\Machine\\%G1\n", "malformed key path"},
                    BadFile{"TruncatedEscape", "MRVREGISTRY 1\nK \\Registry\\Machine\\%4\n", "malformed key path"},
                    BadFile{"UnknownLine", "MRVREGISTRY 1\nX something\n", "unrecognised line"},
                    BadFile{"TrailingText", "MRVREGISTRY 1\nK \\A\nV :x 4 00 extra\n", "unexpected text"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
