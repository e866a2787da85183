// Dialog::Picture: a dialog drawn in text. One character per 4 x 8 dialog
// units (a character of the dialog's font is about that big), inside a
// frame whose top line carries the caption. Group boxes are drawn first so
// that their contents overwrite nothing of theirs but the inside.
#include "um/desktop.h"

#include "um/textconversion.h"
#include "um/user32/window.h"

#include <commctrl.h>

#include <algorithm>

namespace umsim {
namespace {

constexpr int kMaxColumns = 480, kMaxRows = 270;

class Grid {
public:
    Grid(int columns, int rows)
        : m_rows(size_t(std::max(rows, 0)), std::u32string(size_t(std::max(columns, 0)), U' '))
    {
    }

    void Put(int row, int column, char32_t c)
    {
        if (row >= 0 && column >= 0 && size_t(row) < m_rows.size() && size_t(column) < m_rows[size_t(row)].size()) {
            m_rows[size_t(row)][size_t(column)] = c;
        }
    }
    bool Blank(int row, int column) const
    {
        return row < 0 || column < 0 || size_t(row) >= m_rows.size() || size_t(column) >= m_rows[size_t(row)].size() ||
               m_rows[size_t(row)][size_t(column)] == U' ';
    }
    void Write(int row, int column, const std::u32string& text)
    {
        for (size_t i = 0; i < text.size(); ++i) Put(row, column + int(i), text[i]);
    }
    void Frame(int top, int left, int bottom, int right)
    {
        for (int c = left; c <= right; ++c) Put(top, c, U'-'), Put(bottom, c, U'-');
        for (int r = top; r <= bottom; ++r) Put(r, left, U'|'), Put(r, right, U'|');
        Put(top, left, U'+'), Put(top, right, U'+'), Put(bottom, left, U'+'), Put(bottom, right, U'+');
    }
    std::string Text() const
    {
        std::string out;
        for (const auto& row : m_rows) {
            std::u32string line = row;
            line.erase(line.find_last_not_of(U' ') + 1);
            std::u16string wide;
            for (char32_t c : line) {
                if (c >= 0x10000) {
                    wide += char16_t(0xD800 + ((c - 0x10000) >> 10));
                    wide += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
                } else {
                    wide += char16_t(c);
                }
            }
            out += ToUtf8(wide) + "\n";
        }
        return out;
    }

private:
    std::vector<std::u32string> m_rows;
};

std::u32string Wide32(const std::u16string& text)
{
    // The controls' texts here are plain; surrogates print as one mark each.
    std::u32string out;
    for (char16_t c : text) {
        if (c >= 0xDC00 && c < 0xE000) continue;
        out += c >= 0xD800 && c < 0xDC00 ? U'?' : char32_t(c);
    }
    return out;
}

struct Cells {
    int top, left, bottom, right;  // inclusive, inside the dialog's frame
    int Width() const { return right - left + 1; }
    int Middle() const { return (top + bottom) / 2; }
};

// Rounded to the nearest cell, and at least one cell in each direction, so
// that an 8-unit static is one line wherever it starts.
Cells CellsOf(const Window& w)
{
    int left = (w.x + 2) / 4 + 1, top = (w.y + 4) / 8 + 1;
    int right = left + std::max(1, (w.cx + 2) / 4) - 1;
    int bottom = top + std::max(1, (w.cy + 4) / 8) - 1;
    return {top, left, bottom, right};
}

std::u32string Clip(std::u32string text, int width)
{
    if (int(text.size()) > width) text.resize(size_t(std::max(width, 0)));
    return text;
}

std::u32string Pad(std::u32string text, int width)
{
    if (int(text.size()) > width) text.resize(size_t(std::max(width, 0)));
    text.resize(size_t(std::max(width, 0)), U' ');
    return text;
}

void Centred(Grid& grid, const Cells& cells, const std::u32string& text)
{
    grid.Write(cells.Middle(), cells.left + std::max(0, (cells.Width() - int(text.size())) / 2), text);
}

// Lines broken at '\n' and, when the static has room for more than one
// line, wrapped at its width.
std::vector<std::u32string> Lines(const std::u32string& text, int width, bool wrap)
{
    std::vector<std::u32string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(U'\n', start);
        std::u32string line = text.substr(start, end == std::u32string::npos ? end : end - start);
        while (wrap && int(line.size()) > width && width > 0) {
            size_t cut = line.rfind(U' ', size_t(width));
            if (cut == std::u32string::npos || cut == 0) cut = size_t(width);
            lines.push_back(line.substr(0, cut));
            line = line.substr(line[cut] == U' ' ? cut + 1 : cut);
        }
        lines.push_back(line);
        if (end == std::u32string::npos) return lines;
        start = end + 1;
    }
}

void DrawStatic(Grid& grid, const Window& w, const Cells& cells)
{
    uint32_t type = w.style & SS_TYPEMASK;
    if (type == SS_ICON || type == SS_BITMAP) {
        std::string label = std::string(type == SS_ICON ? "<icon" : "<bitmap") +
                            (w.imageResource ? " " + std::to_string(w.imageResource) : std::string()) + ">";
        Centred(grid, cells, Wide32(FromUtf8(label)));
        return;
    }
    if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP) {
        return;  // frames and rectangles carry no text
    }
    // A one-line static shows all its text when the cells after it are free:
    // real text is narrower than the average character these cells stand for.
    bool oneLine = cells.top == cells.bottom;
    auto lines = Lines(Wide32(w.text), cells.Width(), !oneLine);
    for (size_t i = 0; i < lines.size() && cells.top + int(i) <= cells.bottom; ++i) {
        const std::u32string& line = lines[i];
        int row = cells.top + int(i);
        if (int(line.size()) <= cells.Width()) {
            int column = cells.left;
            if (type == SS_RIGHT) column = cells.right + 1 - int(line.size());
            if (type == SS_CENTER) column = cells.left + (cells.Width() - int(line.size())) / 2;
            grid.Write(row, column, line);
            continue;
        }
        // Right-aligned text grows to the left, other text to the right.
        int start = type == SS_RIGHT ? cells.right + 1 - int(line.size()) : cells.left;
        for (int at = start; type == SS_RIGHT && at < cells.left; ++at) {
            if (!grid.Blank(row, at)) start = cells.left;
        }
        for (size_t k = 0; k < line.size(); ++k) {
            int at = start + int(k);
            if ((at < cells.left || at > cells.right) && !grid.Blank(row, at)) break;
            grid.Put(row, at, line[k]);
        }
    }
}

void DrawButton(Grid& grid, const Window& w, const Cells& cells)
{
    std::u32string text = Wide32(w.text);
    text.erase(std::remove(text.begin(), text.end(), U'&'), text.end());
    switch (w.style & BS_TYPEMASK) {
    case BS_GROUPBOX:
        grid.Frame(cells.top, cells.left, cells.bottom, cells.right);
        if (!text.empty()) grid.Write(cells.top, cells.left + 2, Clip(U" " + text + U" ", cells.Width() - 4));
        return;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
        grid.Write(cells.Middle(), cells.left, (w.range.position ? U"[x] " : U"[ ] ") + text);
        return;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        grid.Write(cells.Middle(), cells.left, (w.range.position ? U"(o) " : U"( ) ") + text);
        return;
    }
    // Disabled push buttons are marked by dashes round their text.
    Centred(grid, cells, w.enabled ? U"[ " + text + U" ]" : U"[-" + text + U"-]");
}

// The position as a share of cells, in 64 bits: a range may span every int.
int Scaled(const RangeState& r, int cells)
{
    if (r.high <= r.low) return 0;
    return int((static_cast<long long>(r.position) - r.low) * cells / (static_cast<long long>(r.high) - r.low));
}

void DrawControl(Grid& grid, const Window& w)
{
    Cells cells = CellsOf(w);
    switch (w.windowClass) {
    case WindowClass::Static: DrawStatic(grid, w, cells); return;
    case WindowClass::Button: DrawButton(grid, w, cells); return;
    case WindowClass::Edit:
        grid.Write(cells.top, cells.left, U"[" + Pad(Wide32(w.text), cells.Width() - 2) + U"]");
        return;
    case WindowClass::ComboBox: {
        std::u16string selected = w.combo.selection >= 0 ? w.combo.items[size_t(w.combo.selection)] : u"";
        // The template's height includes the drop-down list; the closed box
        // is about 12 units tall, and sits on the line of its middle.
        grid.Write((w.y + 6) / 8 + 1, cells.left, U"[" + Pad(Wide32(selected), cells.Width() - 3) + U"\u25BC]");
        return;
    }
    case WindowClass::Trackbar: {
        int inner = std::max(cells.Width() - 2, 1);
        std::u32string scale(size_t(inner), U'-');
        const RangeState& r = w.range;
        scale[size_t(std::clamp(Scaled(r, inner - 1), 0, inner - 1))] = U'O';
        grid.Write(cells.Middle(), cells.left, U"|" + scale + U"|");
        return;
    }
    case WindowClass::ProgressBar: {
        int inner = std::max(cells.Width() - 2, 1);
        const RangeState& r = w.range;
        int filled = std::clamp(Scaled(r, inner), 0, inner);
        grid.Write(cells.Middle(), cells.left,
                   U"[" + std::u32string(size_t(filled), U'#') + std::u32string(size_t(inner - filled), U'.') + U"]");
        return;
    }
    case WindowClass::Dialog:
    case WindowClass::Custom: return;  // a window of a program's own class paints itself
    }
}

}  // namespace

std::string Dialog::Picture() const
{
    auto dialog = PeekWindow(static_cast<HWND>(m_hwnd));
    if (!dialog) return "";
    std::vector<std::shared_ptr<Window>> controls;
    for (HWND child : dialog->children) {
        if (auto control = PeekWindow(child)) controls.push_back(control);
    }
    std::lock_guard lock(DesktopLock());
    // Dialogs larger than any screen are cut.
    int columns = std::clamp((dialog->cx + 2) / 4, 1, kMaxColumns);
    int rows = std::clamp((dialog->cy + 4) / 8, 1, kMaxRows);
    Grid grid(columns + 2, rows + 2);
    grid.Frame(0, 0, rows + 1, columns + 1);
    grid.Write(0, 2, Clip(U" " + Wide32(dialog->text) + U" ", columns - 2));
    auto isGroupBox = [](const Window& w) {
        return w.windowClass == WindowClass::Button && (w.style & BS_TYPEMASK) == BS_GROUPBOX;
    };
    for (const auto& control : controls) {
        if (isGroupBox(*control)) DrawControl(grid, *control);
    }
    for (const auto& control : controls) {
        if (!isGroupBox(*control)) DrawControl(grid, *control);
    }
    return grid.Text();
}

}  // namespace umsim
