// LoadIconA/W and LoadImageA/W from a module's RT_GROUP_ICON/RT_ICON and
// RT_BITMAP resources. Every image is loaded as shared (LR_SHARED): it
// lives as long as the process and loading it again returns the same
// handle, so no DestroyIcon or DeleteObject is needed or offered.
#include "um/textconversion.h"
#include "um/user32/dialogs.h"
#include "um/user32/imageresource.h"
#include "um/user32/window.h"

#include <cstdlib>
#include <deque>
#include <tuple>

namespace umsim {
namespace {

// Windows' size of a large icon (SM_CXICON, SM_CYICON).
constexpr int kIconSize = 32;

struct Image {
    HINSTANCE module;
    UINT type;
    std::u16string name;  // "#n" for an id
    int width, height;
};

std::deque<Image>& Images()  // under DesktopLock(); elements never move
{
    static auto* images = new std::deque<Image>;
    return *images;
}

std::u16string Key(ULONG_PTR id, const std::u16string& name)
{
    if (IS_INTRESOURCE(id)) {
        std::string number = "#" + std::to_string(id);
        return std::u16string(number.begin(), number.end());
    }
    return name;
}

const void* Bytes(HINSTANCE module, HRSRC info, size_t* size)
{
    *size = info ? SizeofResource(module, info) : 0;
    return info ? LockResource(LoadResource(module, info)) : nullptr;
}

// Finds the resource by the W form of its name (ids stay ids).
HRSRC Find(HINSTANCE module, ULONG_PTR id, const std::u16string& name, WORD type)
{
    return IS_INTRESOURCE(id) ? FindResourceW(module, reinterpret_cast<LPCWSTR>(id), MAKEINTRESOURCEW(type))
                              : FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(type));
}

HANDLE Load(HINSTANCE module, ULONG_PTR id, const std::u16string& name, UINT type, int cx, int cy, UINT flags)
{
    if (flags & LR_LOADFROMFILE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    if (!id) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return NULL;
    }
    int width = 0, height = 0;
    size_t size = 0;
    if (type == IMAGE_ICON) {
        const void* data = Bytes(module, Find(module, id, name, 14), &size);  // RT_GROUP_ICON
        auto entries = data ? ParseIconGroup(data, size) : std::nullopt;
        if (!entries) {
            if (data) SetLastError(ERROR_INVALID_DATA);
            return NULL;
        }
        if (!cx && (flags & LR_DEFAULTSIZE)) cx = kIconSize;
        if (!cy && (flags & LR_DEFAULTSIZE)) cy = kIconSize;
        const IconGroupEntry* best = &entries->front();
        for (const IconGroupEntry& e : *entries) {
            auto distance = [&](const IconGroupEntry& x) { return std::abs(x.width - cx) + std::abs(x.height - cy); };
            if (cx && cy && distance(e) < distance(*best)) best = &e;
        }
        // The group must name an image that is there.
        if (!FindResourceW(module, MAKEINTRESOURCEW(best->iconId), MAKEINTRESOURCEW(3))) {
            SetLastError(ERROR_INVALID_DATA);
            return NULL;
        }
        width = cx ? cx : best->width;
        height = cy ? cy : best->height;
    } else if (type == IMAGE_BITMAP) {
        const void* data = Bytes(module, Find(module, id, name, 2), &size);  // RT_BITMAP
        auto bitmap = data ? ParseBitmapSize(data, size) : std::nullopt;
        if (!bitmap) {
            if (data) SetLastError(ERROR_INVALID_DATA);
            return NULL;
        }
        width = cx ? cx : bitmap->width;
        height = cy ? cy : bitmap->height;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    std::lock_guard lock(DesktopLock());
    std::u16string key = Key(id, name);
    for (Image& image : Images()) {
        if (std::tie(image.module, image.type, image.name, image.width, image.height) ==
            std::tie(module, type, key, width, height)) {
            return &image;
        }
    }
    Images().push_back({module, type, key, width, height});
    return &Images().back();
}

std::u16string NameOf(LPCWSTR name) { return IS_INTRESOURCE(name) ? std::u16string() : std::u16string(name); }
std::u16string NameOf(LPCSTR name) { return IS_INTRESOURCE(name) ? std::u16string() : FromAnsi(name); }

}  // namespace

HANDLE LoadControlImage(HINSTANCE instance, uint16_t resourceId, uint32_t style)
{
    uint32_t kind = style & SS_TYPEMASK;
    if (kind != SS_ICON && kind != SS_BITMAP) return nullptr;
    // A static that cannot find its image is created without one, as on Windows.
    DWORD error = GetLastError();
    HANDLE image = Load(instance, resourceId, u"", kind == SS_ICON ? IMAGE_ICON : IMAGE_BITMAP, 0, 0, 0);
    SetLastError(error);
    return image;
}

}  // namespace umsim

HANDLE WINAPI LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad)
{
    return umsim::Load(hInst, reinterpret_cast<ULONG_PTR>(name), umsim::NameOf(name), type, cx, cy, fuLoad);
}

HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad)
{
    return umsim::Load(hInst, reinterpret_cast<ULONG_PTR>(name), umsim::NameOf(name), type, cx, cy, fuLoad);
}

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName)
{
    return static_cast<HICON>(LoadImageW(hInstance, lpIconName, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    return static_cast<HICON>(LoadImageA(hInstance, lpIconName, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}
