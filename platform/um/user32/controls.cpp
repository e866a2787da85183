// The system control classes' procedures: static, button, edit and combo
// box. Text messages are answered before these run (messages.cpp).
#include "um/user32/window.h"

#include <algorithm>
#include <cstring>

namespace umsim {
namespace {

int CompareNoCase(const std::u16string& a, const std::u16string& b)
{
    auto lower = [](char16_t c) { return c < 0x80 ? char16_t(tolower(c)) : c; };
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

void Select(Window& combo, int index)
{
    combo.combo.selection = index;
    combo.text = index >= 0 ? combo.combo.items[size_t(index)] : std::u16string();
}

LRESULT InsertItem(Window& combo, size_t at, const char16_t* text)
{
    auto& state = combo.combo;
    state.items.insert(state.items.begin() + ptrdiff_t(at), text);
    state.itemData.insert(state.itemData.begin() + ptrdiff_t(at), 0);
    if (state.selection >= int(at)) ++state.selection;
    return LRESULT(at);
}

LRESULT ComboBoxProcedure(Window& combo, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto& state = combo.combo;
    const auto count = int(state.items.size());
    const auto index = int(wParam);
    const bool valid = index >= 0 && index < count;
    const auto* text = reinterpret_cast<const char16_t*>(lParam);
    switch (message) {
    case CB_ADDSTRING: {
        if (!text) return CB_ERR;
        size_t at = state.items.size();
        if (combo.style & CBS_SORT) {
            at = size_t(std::upper_bound(state.items.begin(), state.items.end(), std::u16string(text),
                                         [](const auto& a, const auto& b) { return CompareNoCase(a, b) < 0; }) -
                        state.items.begin());
        }
        return InsertItem(combo, at, text);
    }
    case CB_INSERTSTRING:
        if (!text || (index != -1 && (index < 0 || index > count))) return CB_ERR;
        return InsertItem(combo, index == -1 ? state.items.size() : size_t(index), text);
    case CB_DELETESTRING:
        if (!valid) return CB_ERR;
        state.items.erase(state.items.begin() + index);
        state.itemData.erase(state.itemData.begin() + index);
        if (state.selection == index) Select(combo, -1);
        else if (state.selection > index) --state.selection;
        return LRESULT(state.items.size());
    case CB_RESETCONTENT:
        state.items.clear();
        state.itemData.clear();
        Select(combo, -1);
        return 0;
    case CB_SETCURSEL:
        // Out of range clears the selection, as -1 does.
        Select(combo, valid ? index : -1);
        return valid ? index : CB_ERR;
    case CB_GETCURSEL: return state.selection;
    case CB_GETCOUNT: return count;
    case CB_GETLBTEXTLEN: return valid ? LRESULT(state.items[size_t(index)].size()) : CB_ERR;
    case CB_GETLBTEXT: {
        if (!valid || !lParam) return CB_ERR;
        const std::u16string& item = state.items[size_t(index)];
        memcpy(reinterpret_cast<char16_t*>(lParam), item.c_str(), (item.size() + 1) * sizeof(char16_t));
        return LRESULT(item.size());
    }
    case CB_GETITEMDATA: return valid ? state.itemData[size_t(index)] : CB_ERR;
    case CB_SETITEMDATA:
        if (!valid) return CB_ERR;
        state.itemData[size_t(index)] = lParam;
        return TRUE;
    case CB_FINDSTRINGEXACT: {
        if (!text || count == 0) return CB_ERR;
        // The search starts after the given entry and wraps round.
        int start = index >= 0 && index < count ? index + 1 : 0;
        for (int k = 0; k < count; ++k) {
            int at = (start + k) % count;
            if (CompareNoCase(state.items[size_t(at)], text) == 0) return at;
        }
        return CB_ERR;
    }
    }
    return 0;
}

}  // namespace

LRESULT ControlProcedure(Window& control, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (control.windowClass) {
    case WindowClass::ComboBox: return ComboBoxProcedure(control, message, wParam, lParam);
    case WindowClass::Static:
        if (message == STM_SETICON || message == STM_SETIMAGE) {
            HANDLE previous = control.image;
            control.image = reinterpret_cast<HANDLE>(message == STM_SETICON ? LPARAM(wParam) : lParam);
            return reinterpret_cast<LRESULT>(previous);
        }
        if (message == STM_GETICON || message == STM_GETIMAGE) return reinterpret_cast<LRESULT>(control.image);
        return 0;
    case WindowClass::Button:
        if (message == BM_SETCHECK) control.range.position = int(wParam);
        if (message == BM_GETCHECK) return control.range.position;
        return 0;
    default: return 0;
    }
}

}  // namespace umsim
