// Reading INF files through SetupAPI: the syntax rules a package's INF
// relies on, the published error codes, and the buffer conventions.
#include <windows.h>
#include <setupapi.h>

#include "um/umverifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

class InfFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_directory = std::filesystem::path(testing::TempDir()) / "inffile_test";
        std::filesystem::remove_all(m_directory);
        std::filesystem::create_directories(m_directory);
    }
    void TearDown() override
    {
        for (HINF inf : m_opened) SetupCloseInfFile(inf);
        EXPECT_EQ(umsim::OpenHandleCount(), m_handlesBefore);
        std::filesystem::remove_all(m_directory);
    }

    std::string Write(const std::string& name, const std::string& bytes)
    {
        std::string path = (m_directory / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    HINF Open(const std::string& text, PCSTR infClass = NULL, DWORD style = INF_STYLE_WIN4)
    {
        HINF inf = SetupOpenInfFileA(Write("test.inf", text).c_str(), infClass, style, NULL);
        if (inf != INVALID_HANDLE_VALUE) m_opened.push_back(inf);
        return inf;
    }
    static std::string Field(INFCONTEXT& context, DWORD index)
    {
        char buffer[MAX_INF_STRING_LENGTH];
        if (!SetupGetStringFieldA(&context, index, buffer, sizeof buffer, NULL)) return "<error " + std::to_string(GetLastError()) + ">";
        return buffer;
    }
    // Field values of the first line with the key, "|" between them.
    static std::string Line(HINF inf, PCSTR section, PCSTR key)
    {
        INFCONTEXT context;
        if (!SetupFindFirstLineA(inf, section, key, &context)) return "<not found>";
        std::string text = Field(context, 1);
        for (DWORD i = 2; i <= SetupGetFieldCount(&context); ++i) text += "|" + Field(context, i);
        return text;
    }

    std::filesystem::path m_directory;
    std::vector<HINF> m_opened;
    size_t m_handlesBefore = umsim::OpenHandleCount();
};

constexpr char kVersion[] = "[Version]\nSignature=\"$Windows NT$\"\nClass=MEDIA\n";

TEST_F(InfFileTest, SectionsAndKeysIgnoreCaseAndRepeatedSectionsMerge)
{
    HINF inf = Open(std::string(kVersion) + "[Models]\nOne = a\n[MODELS]\ntwo = b\n");
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetupGetLineCountA(inf, "models"), 2);
    EXPECT_EQ(Line(inf, "mOdElS", "ONE"), "a");
    EXPECT_EQ(Line(inf, "Models", "Two"), "b");
}

TEST_F(InfFileTest, FieldsFollowTheInfSyntax)
{
    HINF inf = Open(std::string(kVersion) +
                    "[S]\n"
                    "plain =  a b , c ,, d  ; comment\n"
                    "quoted = \"  x, y;z \" , \"say \"\"hi\"\"\"\n"
                    "joined = first, \\  ; continued\n"
                    "   second\n"
                    "key only =\n"
                    "lone value\n"
                    "no, key\n"
                    "path = C:\\dir\\file.sys\n");
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Line(inf, "S", "plain"), "a b|c||d");
    EXPECT_EQ(Line(inf, "S", "quoted"), "  x, y;z |say \"hi\"");
    EXPECT_EQ(Line(inf, "S", "joined"), "first|second");
    EXPECT_EQ(Line(inf, "S", "key only"), "");
    EXPECT_EQ(Line(inf, "S", "path"), "C:\\dir\\file.sys");
    EXPECT_EQ(SetupGetLineCountA(inf, "S"), 7);

    // A lone value is its own key; several values without "=" have none.
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "LONE VALUE", &context));
    EXPECT_EQ(Field(context, 0), "lone value");
    ASSERT_TRUE(SetupGetLineByIndexA(inf, "S", 5, &context));
    EXPECT_EQ(SetupGetFieldCount(&context), 2u);
    EXPECT_EQ(Field(context, 0), "<error 87>");
    EXPECT_EQ(Field(context, 2), "key");
    EXPECT_EQ(Field(context, 3), "<error 87>");
}

TEST_F(InfFileTest, StringKeysAreSubstitutedWhenRead)
{
    HINF inf = Open(std::string(kVersion) +
                    "[S]\n"
                    "%Name% = %desc%, 100%%, %unknown%, %12%\\x.sys, \"%Name%\"\n"
                    "[strings]\n"
                    "NAME = Widget\n"
                    "Desc = \"A, quoted; text\"\n");
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "widget", &context));
    EXPECT_EQ(Field(context, 0), "Widget");
    EXPECT_EQ(Field(context, 1), "A, quoted; text");
    EXPECT_EQ(Field(context, 2), "100%");
    EXPECT_EQ(Field(context, 3), "%unknown%");
    EXPECT_EQ(Field(context, 4), "C:\\Windows\\System32\\drivers\\x.sys");
    EXPECT_EQ(Field(context, 5), "Widget");
    char text[128];
    ASSERT_TRUE(SetupGetLineTextA(&context, NULL, NULL, NULL, text, sizeof text, NULL));
    EXPECT_STREQ(text, "A, quoted; text,100%,%unknown%,C:\\Windows\\System32\\drivers\\x.sys,Widget");
}

TEST_F(InfFileTest, UnicodeFilesWithAByteOrderMarkRead)
{
    std::string ansi = std::string(kVersion) + "[S]\r\nkey = value\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : ansi) utf16 += std::string{c, '\0'};
    HINF inf = SetupOpenInfFileA(Write("wide.inf", utf16).c_str(), "media", INF_STYLE_WIN4, NULL);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE) << GetLastError();
    m_opened.push_back(inf);
    EXPECT_EQ(Line(inf, "S", "key"), "value");
}

TEST_F(InfFileTest, OpenChecksFileStyleAndClass)
{
    EXPECT_EQ(SetupOpenInfFileA((m_directory / "missing.inf").string().c_str(), NULL, INF_STYLE_WIN4, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(Open("[Version]\nSignature=$Windows 3.1$\n"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WRONG_INF_STYLE));
    EXPECT_EQ(Open("[Other]\nx=1\n"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WRONG_INF_STYLE));
    EXPECT_NE(Open("[Other]\nx=1\n", NULL, INF_STYLE_OLDNT), INVALID_HANDLE_VALUE);
    EXPECT_NE(Open("[version]\nsignature=$chicago$\n"), INVALID_HANDLE_VALUE);

    EXPECT_EQ(Open(kVersion, "Ports"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_MISMATCH));
    EXPECT_EQ(Open("[Version]\nSignature=$Windows NT$\n", "NULL"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_MISMATCH));
    EXPECT_NE(Open(kVersion, "media"), INVALID_HANDLE_VALUE);
}

struct SyntaxCase {
    const char* text;
    DWORD error;
    UINT line;
};

class InfSyntaxErrors : public InfFileTest, public testing::WithParamInterface<SyntaxCase> {};

TEST_P(InfSyntaxErrors, FailTheOpenWithTheLineAndCode)
{
    UINT errorLine = 99;
    HINF inf = SetupOpenInfFileA(Write("bad.inf", GetParam().text).c_str(), NULL, INF_STYLE_WIN4, &errorLine);
    EXPECT_EQ(inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), GetParam().error);
    EXPECT_EQ(errorLine, GetParam().line);
}

const std::string kLongField = "[Version]\nSignature=$Windows NT$\n[S]\n\nx=" + std::string(MAX_INF_STRING_LENGTH, 'a') + "\n";
const std::string kLongSection = "; comment\n[" + std::string(256, 's') + "]\n";

INSTANTIATE_TEST_SUITE_P(Cases, InfSyntaxErrors,
                         testing::Values(SyntaxCase{"; first\nkey=value\n[Version]\n", ERROR_EXPECTED_SECTION_NAME, 2},
                                         SyntaxCase{"[Version]\nSignature=$Windows NT$\n[Broken\nx=1\n",
                                                    ERROR_BAD_SECTION_NAME_LINE, 3},
                                         SyntaxCase{kLongSection.c_str(), ERROR_SECTION_NAME_TOO_LONG, 2},
                                         SyntaxCase{kLongField.c_str(), ERROR_GENERAL_SYNTAX, 5}));

TEST_F(InfFileTest, LookupsReportThePublishedErrors)
{
    HINF inf = Open(std::string(kVersion) + "[Empty]\n[S]\na=1\nb=2\na=3\n");
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT context;
    EXPECT_EQ(SetupGetLineCountA(inf, "Missing"), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SECTION_NOT_FOUND));
    EXPECT_EQ(SetupGetLineCountA(inf, "Empty"), 0);
    EXPECT_FALSE(SetupFindFirstLineA(inf, "Missing", NULL, &context));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SECTION_NOT_FOUND));
    EXPECT_FALSE(SetupFindFirstLineA(inf, "Empty", NULL, &context));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupFindFirstLineA(inf, "S", "c", &context));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupGetLineByIndexA(inf, "S", 3, &context));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_LINE_NOT_FOUND));

    // Walking: next line, next line of a key, and the end of the section.
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "a", &context));
    ASSERT_TRUE(SetupFindNextMatchLineA(&context, "A", &context));
    EXPECT_EQ(Field(context, 1), "3");
    EXPECT_FALSE(SetupFindNextMatchLineA(&context, "a", &context));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupFindNextLine(&context, &context));
    ASSERT_TRUE(SetupGetLineByIndexA(inf, "S", 0, &context));
    ASSERT_TRUE(SetupFindNextLine(&context, &context));
    EXPECT_EQ(Field(context, 0), "b");
}

TEST_F(InfFileTest, StringFieldsReportTheSizeTheyNeed)
{
    HINF inf = Open(std::string(kVersion) + "[S]\nkey = value\n");
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "key", &context));
    DWORD required = 0;
    ASSERT_TRUE(SetupGetStringFieldA(&context, 1, NULL, 0, &required));
    EXPECT_EQ(required, 6u);
    char small[5] = "????";
    EXPECT_FALSE(SetupGetStringFieldA(&context, 1, small, sizeof small, &required));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 6u);
    EXPECT_STREQ(small, "????");
    char exact[6];
    EXPECT_TRUE(SetupGetStringFieldA(&context, 1, exact, sizeof exact, NULL));
    EXPECT_STREQ(exact, "value");
}

TEST_F(InfFileTest, IntegerAndListFields)
{
    HINF inf = Open(std::string(kVersion) + "[S]\nnumbers = 0x00000002, 3, -1, 0xFFFFFFFF, 12abc, , 0x100000000\n"
                                            "list = a, b, c\n");
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "numbers", &context));
    INT value = 0;
    ASSERT_TRUE(SetupGetIntField(&context, 1, &value));
    EXPECT_EQ(value, 2);
    ASSERT_TRUE(SetupGetIntField(&context, 2, &value));
    EXPECT_EQ(value, 3);
    ASSERT_TRUE(SetupGetIntField(&context, 3, &value));
    EXPECT_EQ(value, -1);
    ASSERT_TRUE(SetupGetIntField(&context, 4, &value));
    EXPECT_EQ(value, -1);
    for (DWORD bad : {5u, 6u, 7u}) {
        EXPECT_FALSE(SetupGetIntField(&context, bad, &value)) << bad;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA)) << bad;
    }

    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "list", &context));
    char list[16];
    DWORD required = 0;
    ASSERT_TRUE(SetupGetMultiSzFieldA(&context, 2, list, sizeof list, &required));
    EXPECT_EQ(required, 5u);
    EXPECT_EQ(std::string(list, required), std::string("b\0c\0\0", 5));
    EXPECT_FALSE(SetupGetMultiSzFieldA(&context, 2, list, 4, &required));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(InfFileTest, FileListNamesTheInfFilesOfTheStyle)
{
    Write("b.inf", kVersion);
    Write("a.inf", "[Version]\nSignature=$Chicago$\n");
    Write("old.inf", "[Identification]\nOptionType=NetAdapter\n");
    Write("broken.inf", "[Version\n");
    Write("notes.txt", kVersion);
    std::string directory = m_directory.string();
    DWORD required = 0;
    ASSERT_TRUE(SetupGetInfFileListA(directory.c_str(), INF_STYLE_WIN4, NULL, 0, &required));
    EXPECT_EQ(required, 13u);
    char list[13];
    EXPECT_FALSE(SetupGetInfFileListA(directory.c_str(), INF_STYLE_WIN4, list, 12, &required));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(SetupGetInfFileListA(directory.c_str(), INF_STYLE_WIN4, list, sizeof list, &required));
    EXPECT_EQ(std::string(list, required), std::string("a.inf\0b.inf\0\0", 13));
    ASSERT_TRUE(SetupGetInfFileListA(directory.c_str(), INF_STYLE_OLDNT, list, sizeof list, &required));
    EXPECT_EQ(std::string(list, required), std::string("old.inf\0\0", 9));

    EXPECT_FALSE(SetupGetInfFileListA((directory + "/missing").c_str(), INF_STYLE_WIN4, list, sizeof list, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST_F(InfFileTest, ThreadsOpenReadAndCloseOneFileAtOnce)
{
    std::string path = Write("shared.inf", std::string(kVersion) + "[S]\n%K% = value\n[Strings]\nK = key\n");
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    HINF shared = SetupOpenInfFileA(path.c_str(), NULL, INF_STYLE_WIN4, NULL);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                HINF own = SetupOpenInfFileA(path.c_str(), "MEDIA", INF_STYLE_WIN4, NULL);
                for (HINF inf : {own, shared}) {
                    INFCONTEXT context;
                    char text[8];
                    if (!SetupFindFirstLineA(inf, "S", "KEY", &context) ||
                        !SetupGetStringFieldA(&context, 1, text, sizeof text, NULL) || strcmp(text, "value") != 0) {
                        ++failures;
                    }
                }
                SetupCloseInfFile(own);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    SetupCloseInfFile(shared);
    EXPECT_EQ(failures, 0);
}

TEST_F(InfFileTest, ClosedInfHandleIsReportedNotUsed)
{
    HINF inf = SetupOpenInfFileA(Write("x.inf", kVersion).c_str(), NULL, INF_STYLE_WIN4, NULL);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(inf);
    umsim::ViolationCapture capture;
    EXPECT_EQ(SetupGetLineCountA(inf, "Version"), -1);
    EXPECT_TRUE(capture.Saw("handle"));
}

}  // namespace
