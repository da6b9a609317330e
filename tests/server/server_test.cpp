// The module's entry points, class factory and self-registration.
#include "server/module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

const CLSID kUnknownClsid = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

IClassFactory* GetFactory() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(CLSID_TwBrioFx, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    return factory;
}

std::u16string Wide(const WCHAR* text) {
    std::u16string s;
    for (; text && *text; ++text) s.push_back(static_cast<char16_t>(*text));
    return s;
}

std::u16string Wide(const char* text) {
    std::u16string s;
    for (; *text; ++text) s.push_back(static_cast<char16_t>(*text));
    return s;
}

// The class id as the registry spells it.
std::u16string ClsidText(REFCLSID clsid) {
    WCHAR text[40] = {};
    EXPECT_EQ(StringFromGUID2(clsid, text, 40), 39);
    return Wide(text);
}

// A string value, or "<missing>" / "<not a string>".
std::u16string ReadString(HKEY root, const std::u16string& path, const WCHAR* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, reinterpret_cast<const WCHAR*>(path.c_str()), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return u"<missing>";
    }
    DWORD type = 0;
    WCHAR data[600] = {};
    DWORD bytes = sizeof(data) - sizeof(WCHAR);
    const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return u"<missing>";
    if (type != REG_SZ) return u"<not a string>";
    return Wide(data);
}

DWORD ValueBytes(HKEY root, const std::u16string& path, const WCHAR* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, reinterpret_cast<const WCHAR*>(path.c_str()), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD bytes = 0;
    const LONG r = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &bytes);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? bytes : 0;
}

bool KeyExists(HKEY root, const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, reinterpret_cast<const WCHAR*>(path.c_str()), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void CreateKey(HKEY root, const std::u16string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, reinterpret_cast<const WCHAR*>(path.c_str()), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

}  // namespace

TEST(Server, ClassObjectsOnlyForTheTableAndOnlyAsFactories) {
    const LONG before = CBaseObject::ObjectsActive();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(CLSID_TwBrioFx, IID_IBaseFilter, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);  // no factory was made
    EXPECT_EQ(DllGetClassObject(kUnknownClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
#ifdef _WIN32
    IClassFactory* pageFactory = nullptr;  // the page is served where there is a user interface
    EXPECT_EQ(DllGetClassObject(CLSID_TwBrioFxPropPage, IID_IClassFactory, reinterpret_cast<void**>(&pageFactory)), S_OK);
    ASSERT_NE(pageFactory, nullptr);
    pageFactory->Release();
#else
    EXPECT_EQ(DllGetClassObject(CLSID_TwBrioFxPropPage, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);  // no user interface natively
#endif
    EXPECT_EQ(DllGetClassObject(CLSID_TwBrioFx, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_TwBrioFx, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);  // a factory counts as a live object
    IClassFactory* factory = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->AddRef(), 3u);
    EXPECT_EQ(factory->Release(), 2u);
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->QueryInterface(IID_IBaseFilter, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(unknown->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);

    // Out of memory for the factory itself.
    tw::SetZeroAllocHook([](size_t) { return false; });
    const HRESULT hr = DllGetClassObject(CLSID_TwBrioFx, IID_IClassFactory, &out);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
}

TEST(Server, FactoryCountsAcrossThreadsExactly) {
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    std::atomic<bool> go{false};
    auto churn = [&] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 200000; ++i) {
            factory->AddRef();
            factory->Release();
        }
    };
    std::thread a(churn);
    std::thread b(churn);
    go = true;
    a.join();
    b.join();
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST(Server, CreateInstanceHandsOutTheFilterAndRefusesWhatItMustNot) {
    const LONG before = CBaseObject::ObjectsActive();
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr), E_POINTER);

    // An outer object may only ask for IUnknown; nothing is made otherwise.
    struct Owner : public IUnknown {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
        ULONG STDMETHODCALLTYPE Release() override { return --ref; }
        ULONG ref = 1;
        IUnknown* inner = nullptr;
    } owner;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&owner, IID_IBaseFilter, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);  // the factory only

    ASSERT_EQ(factory->CreateInstance(&owner, IID_IUnknown, reinterpret_cast<void**>(&owner.inner)), S_OK);
    IBaseFilter* aggregated = nullptr;
    ASSERT_EQ(owner.QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&aggregated)), S_OK);
    EXPECT_EQ(owner.ref, 2u);  // the inner filter counts on its owner
    IUnknown* identity = nullptr;
    aggregated->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&owner));
    identity->Release();
    aggregated->Release();
    EXPECT_EQ(owner.inner->Release(), 0u);

    // A plain filter, one reference for the caller.
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    CLSID clsid = {};
    filter->GetClassID(&clsid);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TwBrioFx));
    EXPECT_EQ(filter->AddRef(), 2u);  // exactly one reference was handed out
    EXPECT_EQ(filter->Release(), 1u);
    EXPECT_EQ(filter->Release(), 0u);

    // An interface the filter does not have: refused, and the new filter is gone again.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);

    // No memory for the filter.
    tw::SetZeroAllocHook([](size_t) { return false; });
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IBaseFilter, &out);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(Server, UnloadsOnlyWithoutLocksAndLiveObjects) {
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the factory is alive
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(tw::server::ServerLocks(), 2);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    factory = GetFactory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(tw::server::ServerLocks(), 0);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the filter (and its pins) are alive
    IPin* pin = nullptr;
    filter->FindPin(TW_W("In"), &pin);
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(filter->Release(), 1u);  // the pin holds the filter
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(pin->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    // Locks from many threads at once balance exactly.
    factory = GetFactory();
    auto locker = [factory] {
        for (int i = 0; i < 100000; ++i) {
            factory->LockServer(TRUE);
            factory->LockServer(FALSE);
        }
    };
    std::thread a(locker);
    std::thread b(locker);
    a.join();
    b.join();
    EXPECT_EQ(tw::server::ServerLocks(), 0);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

namespace {

// Remembers the mapper calls of the filter's IAMovieSetup.
class RecordingMapper final : public IFilterMapper {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
    ULONG STDMETHODCALLTYPE Release() override { return --ref; }
    HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID clsid, LPCWSTR name, DWORD merit) override {
        calls.push_back(u"filter " + ClsidText(clsid) + u" " + Wide(name) + u" " + Number(merit));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterPin(CLSID, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero,
                                          BOOL many, CLSID toFilter, LPCWSTR toPin) override {
        calls.push_back(u"pin " + Wide(name) + u" " + Number(rendered) + Number(output) + Number(zero) +
                        Number(many) + u" " + ClsidText(toFilter) + u" " + Wide(toPin));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID, LPCWSTR name, CLSID major, CLSID minor) override {
        calls.push_back(u"type " + Wide(name) + u" " + ClsidText(major) + u" " + ClsidText(minor));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID clsid) override {
        calls.push_back(u"unregister " + ClsidText(clsid));
        return static_cast<HRESULT>(0x80070002);  // never registered
    }
    HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters**, DWORD, BOOL, CLSID, CLSID, BOOL, BOOL,
                                                  CLSID, CLSID) override {
        return E_NOTIMPL;
    }
    static std::u16string Number(unsigned long v) { return Wide(std::to_string(v).c_str()); }

    ULONG ref = 1;
    std::vector<std::u16string> calls;
};

RecordingMapper* g_mapper = nullptr;

HRESULT HandOutMapper(IFilterMapper** out) {
    g_mapper->AddRef();
    *out = g_mapper;
    return S_OK;
}

}  // namespace

TEST(Server, TheFilterRegistersItsSetupDataWithTheMapper) {
    RecordingMapper mapper;
    g_mapper = &mapper;
    tw::dshow::SetFilterMapperFactory(HandOutMapper);
    IClassFactory* factory = GetFactory();
    IAMovieSetup* setup = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IAMovieSetup, reinterpret_cast<void**>(&setup)), S_OK);
    factory->Release();
    EXPECT_EQ(g_Templates[0].m_pAMovieSetup_Filter, &kTwBrioFxSetup);

    ASSERT_EQ(setup->Register(), S_OK);
    const std::u16string brio = ClsidText(CLSID_TwBrioFx);
    const std::u16string none = ClsidText(GUID_NULL);
    const std::u16string audio = ClsidText(MEDIATYPE_Audio);
    const std::vector<std::u16string> expected = {
        u"unregister " + brio,
        u"filter " + brio + u" Orvo BRIO FX 2097152",
        u"pin Input 0000 " + none + u" Output",
        u"type Input " + audio + u" " + none,
        u"pin Output 0100 " + none + u" Input",
        u"type Output " + audio + u" " + none,
    };
    EXPECT_EQ(mapper.calls, expected);
    EXPECT_EQ(audio, u"{73647561-0000-0010-8000-00AA00389B71}");  // "auds"
    mapper.calls.clear();
    EXPECT_EQ(setup->Unregister(), S_OK);  // file not found counts as success
    ASSERT_EQ(mapper.calls.size(), 1u);
    EXPECT_EQ(setup->Release(), 0u);
    EXPECT_EQ(mapper.ref, 1u);
    tw::dshow::SetFilterMapperFactory(nullptr);
}

TEST(Server, RegistrationWritesTheClassKeyAndUnregistrationRemovesItWhole) {
#ifndef _WIN32
    tw::registry::Reset();
#endif
    const std::u16string key = u"CLSID\\" + ClsidText(CLSID_TwBrioFx);
    ASSERT_EQ(DllUnregisterServer(), S_OK);  // also fine when absent
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));

    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, nullptr), u"Orvo BRIO FX");
    WCHAR path[tw::server::kMaxPathChars] = {};
    ASSERT_GT(tw::server::ModuleFileName(path, tw::server::kMaxPathChars), 0u);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + u"\\InProcServer32", nullptr), Wide(path));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + u"\\InProcServer32", TW_W("ThreadingModel")), u"Both");
    EXPECT_EQ(ValueBytes(HKEY_CLASSES_ROOT, key + u"\\InProcServer32", TW_W("ThreadingModel")), 10u);
    // No filter-mapper entries.
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, TW_W("Merit")), u"<missing>");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key + u"\\Pins"));
    // Registering again is harmless.
    EXPECT_EQ(DllRegisterServer(), S_OK);

    // Keys another program added beneath ours go too.
    CreateKey(HKEY_CLASSES_ROOT, key + u"\\Foreign\\Deeper\\Deepest");
    CreateKey(HKEY_CLASSES_ROOT, key + u"\\Another");
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID"));
    EXPECT_EQ(DllUnregisterServer(), S_OK);
#ifndef _WIN32
    EXPECT_EQ(tw::registry::OpenKeyCount(), 0);
    // Without HKEY_CLASSES_ROOT\CLSID nothing can be written.
    tw::registry::Reset(false);
    EXPECT_EQ(DllRegisterServer(), E_FAIL);
    EXPECT_EQ(DllUnregisterServer(), E_FAIL);
    tw::registry::Reset();
#endif
}

TEST(Server, KeyTreeDeletionTakesEveryLevel) {
#ifndef _WIN32
    tw::registry::Reset();
#endif
    const std::u16string base = u"CLSID\\{TW-TREE-TEST}";
    for (const char* child : {"\\a\\b\\c", "\\a\\d", "\\e", "\\f\\g"}) CreateKey(HKEY_CLASSES_ROOT, base + Wide(child));
    HKEY clsid = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, TW_W("CLSID"), 0, KEY_ALL_ACCESS, &clsid), ERROR_SUCCESS);
    EXPECT_EQ(tw::server::DeleteKeyTree(clsid, TW_W("{TW-TREE-TEST}")), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, base));
    EXPECT_EQ(tw::server::DeleteKeyTree(clsid, TW_W("{TW-TREE-TEST}")), ERROR_SUCCESS);  // absent
    RegCloseKey(clsid);
}

#ifndef _WIN32
TEST(Server, TheModuleExportsTheFourEntryPoints) {
    void* module = dlopen(BRIOFX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
    using NoArgs = HRESULT (*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(dlsym(module, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<NoArgs>(dlsym(module, "DllCanUnloadNow"));
    auto registerServer = reinterpret_cast<NoArgs>(dlsym(module, "DllRegisterServer"));
    auto unregisterServer = reinterpret_cast<NoArgs>(dlsym(module, "DllUnregisterServer"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnload, nullptr);
    ASSERT_NE(registerServer, nullptr);
    ASSERT_NE(unregisterServer, nullptr);

    EXPECT_EQ(canUnload(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_TwBrioFx, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    ITwBrioFxProp* prop = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITwBrioFxProp, reinterpret_cast<void**>(&prop)), S_OK);
    int on = -1;
    EXPECT_EQ(prop->GetDelayOn(&on), S_OK);
    EXPECT_EQ(on, 0);
    EXPECT_EQ(prop->Release(), 0u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnload(), S_OK);
    // The module's own registry (its stand-in) takes the registration.
    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(dlclose(module), 0);
}
#endif
