// A module the loader tests load: DllMain reports each call to the debug
// output and, built with MRV_FAIL_ATTACH, refuses to attach.
#include <windows.h>

#include <cstdio>
#include <cstring>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    char line[64];
    snprintf(line, sizeof line, "DllMain %lu %s\n", static_cast<unsigned long>(reason),
             instance == GetModuleHandleA(NULL) ? "program" : "module");
    OutputDebugStringA(line);
#ifdef MRV_FAIL_ATTACH
    return reason != DLL_PROCESS_ATTACH;
#else
    return TRUE;
#endif
}

extern "C" int TestModuleAnswer() { return 42; }

// An in-process COM server of one class, TestObject, whose objects answer
// IUnknown only; aggregation is refused.
#include <objbase.h>

#include <atomic>

DEFINE_GUID(CLSID_TestObject, 0x6D1A3C55, 0x0F0B, 0x4E8C, 0x9D, 0x35, 0x2B, 0x7A, 0x7E, 0x3B, 0x1F, 0x01);

namespace {

std::atomic<long> g_liveObjects{0};

class TestObject : public IUnknown {
public:
    TestObject() { ++g_liveObjects; }
    virtual ~TestObject() { --g_liveObjects; }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG left = --m_references;
        if (!left) delete this;
        return left;
    }

private:
    std::atomic<ULONG> m_references{1};
};

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory);
        *ppv = known ? this : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* object = new TestObject;
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!IsEqualCLSID(rclsid, CLSID_TestObject)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow(void) { return g_liveObjects ? S_FALSE : S_OK; }

// A command-line entry for the DLL runner: records the text it was given
// under HKEY_CURRENT_USER\Software\MrvTestModule, value "RunDll".
extern "C" void CALLBACK TestRunDllEntry(HWND, HINSTANCE, LPSTR arguments, int)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\MrvTestModule", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL)) {
        return;
    }
    RegSetValueExA(key, "RunDll", 0, REG_SZ, reinterpret_cast<const BYTE*>(arguments), DWORD(strlen(arguments) + 1));
    RegCloseKey(key);
}
