// COM activation of an in-process server registered under
// HKEY_CLASSES_ROOT\CLSID (the test module), apartments, GUID texts.
#include <windows.h>
#include <objbase.h>

#include "um/debugoutput.h"
#include "um/umverifier.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DEFINE_GUID(CLSID_TestObject, 0x6D1A3C55, 0x0F0B, 0x4E8C, 0x9D, 0x35, 0x2B, 0x7A, 0x7E, 0x3B, 0x1F, 0x01);
#define MRV_TEST_CLASS_KEY "CLSID\\{6D1A3C55-0F0B-4E8C-9D35-2B7A7E3B1F01}"
constexpr char kClassKey[] = MRV_TEST_CLASS_KEY;
constexpr char kServerKey[] = MRV_TEST_CLASS_KEY "\\InprocServer32";

void RegisterServer(const char* module)
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kServerKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    // Without the terminator, as registration code often writes it.
    RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE*>(module), DWORD(strlen(module)));
    RegCloseKey(key);
}

void UnregisterServer()
{
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kServerKey);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
}

TEST(Com, ActivationNeedsAnApartmentAndARegisteredClass)
{
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestObject, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CoInitialize(NULL), S_OK);
    EXPECT_EQ(CoInitialize(NULL), S_FALSE);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    UnregisterServer();
    EXPECT_EQ(CoCreateInstance(CLSID_TestObject, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&object),
              REGDB_E_CLASSNOTREG);
    RegisterServer("/nonexistent/libnothing.so");
    EXPECT_EQ(CoCreateInstance(CLSID_TestObject, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&object),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    UnregisterServer();
    CoUninitialize();
    CoUninitialize();
}

TEST(Com, TheServerStaysLoadedWhileItsObjectsLive)
{
    ASSERT_EQ(CoInitialize(NULL), S_OK);
    RegisterServer(MRV_TEST_MODULE);
    umsim::TakeDebugOutput();
    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestObject, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&object), S_OK);
    ASSERT_NE(object, nullptr);
    IUnknown* outer = object;
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestObject, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &refused),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_TestObject, CLSCTX_INPROC_SERVER, NULL, IID_IClassFactory, (void**)&factory),
              S_OK);
    EXPECT_EQ(CoGetClassObject(IID_IUnknown, CLSCTX_INPROC_SERVER, NULL, IID_IClassFactory, (void**)&factory),
              REGDB_E_CLASSNOTREG);
    CoFreeUnusedLibraries();
    EXPECT_EQ(umsim::TakeDebugOutput(), "DllMain 1 module\n");  // loaded once, still there
    object->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(umsim::TakeDebugOutput(), "DllMain 0 module\n");
    UnregisterServer();
    CoUninitialize();
}

TEST(Com, UninitializingWithLiveObjectsIsReported)
{
    ASSERT_EQ(CoInitialize(NULL), S_OK);
    RegisterServer(MRV_TEST_MODULE);
    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestObject, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&object), S_OK);
    {
        umsim::ViolationCapture violations;
        CoUninitialize();
        EXPECT_TRUE(violations.Saw("com", "still has live objects"));
    }
    object->Release();  // the module stayed loaded
    ASSERT_EQ(CoInitialize(NULL), S_OK);
    CoFreeUnusedLibraries();
    UnregisterServer();
    CoUninitialize();
}

struct GuidTextCase {
    const char16_t* text;
    HRESULT result;
};

class GuidTexts : public testing::TestWithParam<GuidTextCase> {};

TEST_P(GuidTexts, OnlyTheBracedFormReads)
{
    CLSID clsid = IID_IClassFactory;
    EXPECT_EQ(CLSIDFromString(GetParam().text, &clsid), GetParam().result);
    if (GetParam().result == NOERROR) {
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TestObject));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, GuidTexts,
    testing::Values(GuidTextCase{u"{6D1A3C55-0F0B-4E8C-9D35-2B7A7E3B1F01}", NOERROR},
                    GuidTextCase{u"{6d1a3c55-0f0b-4e8c-9d35-2b7a7e3b1f01}", NOERROR},
                    GuidTextCase{u"6D1A3C55-0F0B-4E8C-9D35-2B7A7E3B1F01", CO_E_CLASSSTRING},
                    GuidTextCase{u"{6D1A3C55-0F0B-4E8C-9D35-2B7A7E3B1F0G}", CO_E_CLASSSTRING},
                    GuidTextCase{u"{6D1A3C55-0F0B-4E8C-9D35-2B7A7E3B1F01}x", CO_E_CLASSSTRING},
                    GuidTextCase{u"MrvUsbAsio.Driver", CO_E_CLASSSTRING}));

TEST(Com, StringFromClsidWritesTheBracedUpperCaseForm)
{
    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(CLSID_TestObject, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"{6D1A3C55-0F0B-4E8C-9D35-2B7A7E3B1F01}");
    CoTaskMemFree(text);
    OLECHAR small[38];
    EXPECT_EQ(StringFromGUID2(IID_IUnknown, small, 38), 0);
    OLECHAR exact[39];
    EXPECT_EQ(StringFromGUID2(IID_IUnknown, exact, 39), 39);
    EXPECT_EQ(std::u16string(exact), u"{00000000-0000-0000-C000-000000000046}");
}

}  // namespace
