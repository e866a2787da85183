// Dialog templates as the resource compiler emits them, in both forms, and
// every truncation of them refused.
#include <windows.h>
#include <commctrl.h>

#include "templatebuilder.h"
#include "um/user32/dialogtemplate.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> DialogResource(int id)
{
    HMODULE program = GetModuleHandleA(NULL);
    HRSRC info = FindResourceW(program, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (!info) return {};
    auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(program, info)));
    return std::vector<uint8_t>(data, data + SizeofResource(program, info));
}

TEST(DialogTemplate, ReadsTheExtendedFormWindresEmits)
{
    std::vector<uint8_t> bytes = DialogResource(129);
    auto t = umsim::ParseDialogTemplate(bytes.data(), bytes.size());
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->extended);
    EXPECT_EQ(t->caption, u"Settings");
    EXPECT_EQ(t->typeface, u"MS Shell Dlg");
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ(t->cx, 233);
    EXPECT_EQ(t->cy, 199);
    ASSERT_EQ(t->items.size(), 16u);
    EXPECT_EQ(t->items[0].title.ordinal, 206);  // the bitmap, by resource id
    EXPECT_EQ(t->items[3].id, 1000u);
    EXPECT_EQ(t->items[3].windowClass.name, u"MSCTLS_TRACKBAR32");  // windres writes class names in capitals
    EXPECT_EQ(t->items[3].style & (TBS_AUTOTICKS | TBS_BOTH), DWORD(TBS_AUTOTICKS | TBS_BOTH));
    EXPECT_EQ(t->items[14].windowClass.ordinal, 0x80);
    EXPECT_EQ(t->items[14].title.name, u"OK");
    EXPECT_TRUE(t->items[14].style & WS_DISABLED);
}

TEST(DialogTemplate, ReadsTheShortFormWindresEmits)
{
    std::vector<uint8_t> bytes = DialogResource(103);
    auto t = umsim::ParseDialogTemplate(bytes.data(), bytes.size());
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->extended);
    EXPECT_EQ(t->caption, u"About");
    ASSERT_EQ(t->items.size(), 4u);
    EXPECT_EQ(t->items[1].title.ordinal, 107);
    EXPECT_EQ(t->items[1].style & SS_TYPEMASK, DWORD(SS_ICON));
    EXPECT_EQ(t->items[2].id, 2000u);
    EXPECT_EQ(t->items[3].x, 143);
}

// Every prefix of a good template is refused with a reason, never read past.
class TruncatedTemplate : public testing::TestWithParam<int> {};

TEST_P(TruncatedTemplate, EveryPrefixIsRefused)
{
    std::vector<uint8_t> bytes = DialogResource(GetParam());
    ASSERT_FALSE(bytes.empty());
    // windres pads the last item; the template proper ends at its last byte used.
    while (bytes.size() > 2 && bytes.back() == 0 && bytes[bytes.size() - 2] == 0 &&
           umsim::ParseDialogTemplate(bytes.data(), bytes.size() - 2)) {
        bytes.resize(bytes.size() - 2);
    }
    for (size_t size = 0; size < bytes.size(); ++size) {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + ptrdiff_t(size));
        std::string error;
        EXPECT_FALSE(umsim::ParseDialogTemplate(prefix.data(), prefix.size(), &error)) << size;
        EXPECT_NE(error.find("past the end"), std::string::npos) << size << ": " << error;
    }
}

INSTANTIATE_TEST_SUITE_P(BothForms, TruncatedTemplate, testing::Values(129, 103));

TEST(DialogTemplate, MalformedFieldsAreRefused)
{
    std::string error;
    // A name that never ends.
    std::vector<uint8_t> runaway = TemplateBuilder(false, 0, 10, 10, u"").Bytes();
    runaway.resize(runaway.size() - 2);  // the caption's terminator
    runaway.insert(runaway.end(), 20000, 'a');
    EXPECT_FALSE(umsim::ParseDialogTemplate(runaway.data(), runaway.size(), &error));

    // Creation data whose size is below its own size word (short form).
    std::vector<uint8_t> item = TemplateBuilder(false, 0, 10, 10, u"").Add(0, 0, 0, 5, 5, 1, 0x80, u"").Bytes();
    item[item.size() - 2] = 1;
    EXPECT_FALSE(umsim::ParseDialogTemplate(item.data(), item.size(), &error));
    EXPECT_EQ(error, "an item's creation data size is below its own size");

    // An item without a class.
    std::vector<uint8_t> classless =
        TemplateBuilder(true, 0, 10, 10, u"").Add(0, 0, 0, 5, 5, 1, 0, u"", u"").Bytes();
    EXPECT_FALSE(umsim::ParseDialogTemplate(classless.data(), classless.size(), &error));
    EXPECT_EQ(error, "an item has no window class");

    EXPECT_FALSE(umsim::ParseDialogTemplate(nullptr, 100, &error));
}

}  // namespace
