// The module as a COM server: registration under the ASIO and CLSID keys,
// the class factory, and the driver object's identities.
#include "asiohost.h"

using namespace asiotest;

namespace {

const char kClassKey[] = "CLSID\\{7B0ADD43-B53F-4C06-A7F1-4505041AC645}";
const char kServerKey[] = "CLSID\\{7B0ADD43-B53F-4C06-A7F1-4505041AC645}\\InprocServer32";
const char kAsioKey[] = "SOFTWARE\\ASIO\\Marvolan USB ASIO Driver";

class ComServer : public AsioTest {
protected:
    HRESULT Call(const char* name)
    {
        return reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(m_module, name)))();
    }
    std::string ModuleFile()
    {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(m_module, path, MAX_PATH);
        CharLowerA(path);
        return path;
    }
    bool Exists(HKEY root, const std::string& path)
    {
        HKEY key = NULL;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    void SetDefault(HKEY root, const std::string& path, const char* text)
    {
        HKEY key = NULL;
        ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL), ERROR_SUCCESS);
        RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(strlen(text)));
        RegCloseKey(key);
    }
    void ExpectRegistered()
    {
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, NULL), ModuleFile());
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel"), "Apartment");
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey, NULL), "Marvolan USB ASIO Driver");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAsioKey, "CLSID"), "{7B0ADD43-B53F-4C06-A7F1-4505041AC645}");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAsioKey, "Description"), "Marvolan USB ASIO Driver");
    }
};

// An outer object that is never called: refusals come first.
struct UnusedOuter : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_UNEXPECTED; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

}  // namespace

TEST_F(ComServer, RegisteringTwiceLeavesOneCompleteRegistration)
{
    ExpectRegistered();
    EXPECT_EQ(Call("DllRegisterServer"), S_OK);
    ExpectRegistered();
    EXPECT_TRUE(umsim::MessageBoxesShown().empty());
}

TEST_F(ComServer, StaleOrMissingClassEntriesAreWrittenAnew)
{
    // A class key naming another file, with a sub-key of its own.
    SetDefault(HKEY_CLASSES_ROOT, kServerKey, "c:\\old\\mrvusbasio.dll");
    SetDefault(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale\\Deeper", "x");
    EXPECT_EQ(Call("DllRegisterServer"), S_OK);
    ExpectRegistered();
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale"));

    // The ASIO key alone is no registration a host can use.
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
    EXPECT_EQ(Call("DllRegisterServer"), S_OK);
    ExpectRegistered();

    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kAsioKey));
}

TEST_F(ComServer, FactoryServesOnlyTheDriverClassAndRefusesAggregatedInterfaces)
{
    const CLSID older = {0x188135E1, 0xD565, 0x11D2, {0x85, 0x4F, 0x00, 0xA0, 0xC9, 0x9F, 0x5D, 0x19}};
    auto getClassObject = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(m_module, "DllGetClassObject")));
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(older, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_MrvUsbAsio, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    UnusedOuter outer;
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(NULL, IID_IUnknown, NULL), E_POINTER);
    factory->Release();
}

TEST_F(ComServer, DriverAnswersItsClsidWithIasioAndNothingElseButIUnknown)
{
    IASIO* asio = Create();
    ASSERT_NE(asio, nullptr);
    void* answer = nullptr;
    ASSERT_EQ(asio->QueryInterface(CLSID_MrvUsbAsio, &answer), S_OK);
    EXPECT_EQ(answer, static_cast<void*>(asio));
    static_cast<IASIO*>(answer)->Release();
    answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(asio->QueryInterface(IID_IClassFactory, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(asio->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    unknown->Release();
    char name[32] = {};
    asio->getDriverName(name);
    EXPECT_STREQ(name, "Marvolan USB ASIO Driver");
    EXPECT_EQ(asio->getDriverVersion(), 1);
}
