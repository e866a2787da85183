// Layouts (little-endian, WORD fields 2-byte aligned, each item on a DWORD
// boundary counted from the template's start):
//   DLGTEMPLATE   style, exStyle, cdit, x, y, cx, cy               18 bytes
//   DLGTEMPLATEEX dlgVer 1, signature 0xFFFF, helpId, exStyle,
//                 style, cDlgItems, x, y, cx, cy                   26 bytes
//   then menu, class (name or ordinal), title (name); with DS_SETFONT
//   the point size (and in the extended form weight, italic, charset)
//   and the typeface.
//   item          style, exStyle, x, y, cx, cy, id (WORD)          18 bytes
//   item ex       helpId, exStyle, style, x, y, cx, cy, id (DWORD) 24 bytes
//   then class, title (names or ordinals), a WORD count of creation
//   data and that data.
#include "um/user32/dialogtemplate.h"

namespace umsim {
namespace {

constexpr uint32_t kDsSetFont = 0x40;
// A title or class longer than this is not a name but runaway bytes.
constexpr size_t kMaxName = 4096;

class Reader {
public:
    Reader(const uint8_t* data, size_t size, std::string* error) : m_data(data), m_size(size), m_error(error) {}

    bool Fail(const char* what)
    {
        if (m_error && m_ok) *m_error = std::string(what) + " runs past the end of the template (" +
                                        std::to_string(m_size) + " bytes)";
        m_ok = false;
        return false;
    }
    bool Ok() const { return m_ok; }

    uint16_t Word(const char* what)
    {
        if (!m_ok || m_size - m_at < 2) return Fail(what), 0;
        uint16_t value = uint16_t(m_data[m_at] | m_data[m_at + 1] << 8);
        m_at += 2;
        return value;
    }
    uint32_t Dword(const char* what)
    {
        uint32_t low = Word(what);
        return low | uint32_t(Word(what)) << 16;
    }
    uint8_t Byte(const char* what)
    {
        if (!m_ok || m_at >= m_size) return Fail(what), 0;
        return m_data[m_at++];
    }
    int16_t Short(const char* what) { return int16_t(Word(what)); }

    std::u16string String(const char* what)
    {
        std::u16string text;
        for (;;) {
            uint16_t unit = Word(what);
            if (!m_ok || unit == 0) return text;
            if (text.size() == kMaxName) return Fail(what), std::u16string();
            text.push_back(char16_t(unit));
        }
    }
    NameOrOrdinal NameOrOrd(const char* what)
    {
        NameOrOrdinal field;
        uint16_t first = Word(what);
        if (!m_ok || first == 0) return field;
        if (first == 0xFFFF) {
            field.isOrdinal = true;
            field.ordinal = Word(what);
            return field;
        }
        field.name.push_back(char16_t(first));
        field.name += String(what);
        return field;
    }
    std::vector<uint8_t> Bytes(size_t count, const char* what)
    {
        if (!m_ok || count > m_size - m_at) return Fail(what), std::vector<uint8_t>();
        std::vector<uint8_t> bytes(m_data + m_at, m_data + m_at + count);
        m_at += count;
        return bytes;
    }
    bool AlignDword(const char* what)
    {
        size_t aligned = (m_at + 3) & ~size_t(3);
        if (aligned > m_size) return Fail(what);
        m_at = aligned;
        return m_ok;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    std::string* m_error;
    bool m_ok = true;
};

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(const void* data, size_t size, std::string* error)
{
    Reader in(static_cast<const uint8_t*>(data), data ? size : 0, error);
    DialogTemplate dialog;
    uint16_t count = 0;
    uint16_t first = in.Word("the header");
    uint16_t second = in.Word("the header");
    dialog.extended = first == 1 && second == 0xFFFF;
    if (dialog.extended) {
        dialog.helpId = in.Dword("the header");
        dialog.exStyle = in.Dword("the header");
        dialog.style = in.Dword("the header");
    } else {
        dialog.style = first | uint32_t(second) << 16;
        dialog.exStyle = in.Dword("the header");
    }
    count = in.Word("the header");
    dialog.x = in.Short("the header");
    dialog.y = in.Short("the header");
    dialog.cx = in.Short("the header");
    dialog.cy = in.Short("the header");
    dialog.menu = in.NameOrOrd("the menu");
    dialog.windowClass = in.NameOrOrd("the class");
    dialog.caption = in.String("the caption");
    if (dialog.style & kDsSetFont) {
        dialog.hasFont = true;
        dialog.pointSize = in.Word("the font");
        if (dialog.extended) {
            dialog.weight = in.Word("the font");
            dialog.italic = in.Byte("the font") != 0;
            dialog.charset = in.Byte("the font");
        }
        dialog.typeface = in.String("the typeface");
    }
    for (uint16_t i = 0; i < count && in.Ok(); ++i) {
        DialogItemTemplate item;
        in.AlignDword("an item");
        if (dialog.extended) {
            item.helpId = in.Dword("an item");
            item.exStyle = in.Dword("an item");
            item.style = in.Dword("an item");
        } else {
            item.style = in.Dword("an item");
            item.exStyle = in.Dword("an item");
        }
        item.x = in.Short("an item");
        item.y = in.Short("an item");
        item.cx = in.Short("an item");
        item.cy = in.Short("an item");
        item.id = dialog.extended ? in.Dword("an item") : in.Word("an item");
        item.windowClass = in.NameOrOrd("an item's class");
        item.title = in.NameOrOrd("an item's title");
        uint16_t extra = in.Word("an item's creation data");
        // The short form counts its own size word, the extended form does not.
        if (!dialog.extended && extra != 0) {
            if (extra < 2) {
                if (error) *error = "an item's creation data size is below its own size";
                return std::nullopt;
            }
            extra = uint16_t(extra - 2);
        }
        item.creationData = in.Bytes(extra, "an item's creation data");
        if (item.windowClass.Empty() && in.Ok()) {
            if (error) *error = "an item has no window class";
            return std::nullopt;
        }
        dialog.items.push_back(std::move(item));
    }
    if (!in.Ok()) return std::nullopt;
    return dialog;
}

}  // namespace umsim
