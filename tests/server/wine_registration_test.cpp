// The built module with the system's own clients: regsvr32 registers and unregisters it, and the
// filter's IAMovieSetup goes through the system's filter mapper.
#include "server/module.h"
#include "tests/server/wine_support.h"

#include <gtest/gtest.h>

#include <string>

using brio_wine::ClsidKey;
using brio_wine::DllPath;
using brio_wine::KeyExists;
using brio_wine::ReadString;

namespace {

// regsvr32's exit code.
DWORD RunRegsvr32(const std::wstring& options) {
    std::wstring command = L"regsvr32.exe /s " + options + L" \"" + DllPath() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 0xFFFFFFFF;
    }
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xFFFFFFFE;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

TEST(WineRegistration, Regsvr32WritesTheClassKeyAndRemovesItWhole) {
    const std::wstring key = ClsidKey(CLSID_TwBrioFx);
    ASSERT_EQ(RunRegsvr32(L"/u"), 0u);
    ASSERT_FALSE(KeyExists(key));

    ASSERT_EQ(RunRegsvr32(L""), 0u);
    EXPECT_EQ(ReadString(key, nullptr), L"Orvo BRIO FX");
    EXPECT_TRUE(SamePath(ReadString(key + L"\\InProcServer32", nullptr), DllPath()))
        << std::string(ReadString(key + L"\\InProcServer32", nullptr).begin(),
                       ReadString(key + L"\\InProcServer32", nullptr).end());
    EXPECT_EQ(ReadString(key + L"\\InProcServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(ReadString(key, L"Merit"), L"<missing>");  // nothing for the filter mapper
    EXPECT_FALSE(KeyExists(key + L"\\Pins"));
    const std::wstring page = ClsidKey(CLSID_TwBrioFxPropPage);
    EXPECT_EQ(ReadString(page, nullptr), L"Orvo BRIO FX Property Page");
    EXPECT_TRUE(SamePath(ReadString(page + L"\\InProcServer32", nullptr), DllPath()));
    EXPECT_EQ(ReadString(page + L"\\InProcServer32", L"ThreadingModel"), L"Both");

    // Another program's keys beneath ours go on unregistration, and a second one is harmless.
    HKEY foreign = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (key + L"\\Foreign\\Deeper").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &foreign, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(foreign);
    ASSERT_EQ(RunRegsvr32(L"/u"), 0u);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_FALSE(KeyExists(page));
    EXPECT_EQ(RunRegsvr32(L"/u"), 0u);
}

TEST(WineRegistration, MovieSetupRegistersThroughTheSystemFilterMapper) {
    brio_wine::ComScope com;
    brio_wine::Module module;
    ASSERT_TRUE(module.Loaded());
    IAMovieSetup* setup = nullptr;
    ASSERT_EQ(module.Create(IID_IAMovieSetup, reinterpret_cast<void**>(&setup)), S_OK);
    const std::wstring key = ClsidKey(CLSID_TwBrioFx);

    ASSERT_EQ(setup->Register(), S_OK);
    // The mapper keeps the filter under its class key and in its filter list.
    EXPECT_TRUE(KeyExists(key + L"\\Pins\\Input"));
    EXPECT_TRUE(KeyExists(key + L"\\Pins\\Output"));
    EXPECT_TRUE(KeyExists(L"Filter\\" + brio_wine::GuidText(CLSID_TwBrioFx)));
    EXPECT_EQ(brio_wine::ReadDword(key, L"Merit"), 0x200000u);
    // Registering again replaces the old entries.
    EXPECT_EQ(setup->Register(), S_OK);

    EXPECT_EQ(setup->Unregister(), S_OK);
    EXPECT_FALSE(KeyExists(key + L"\\Pins"));
    EXPECT_FALSE(KeyExists(L"Filter\\" + brio_wine::GuidText(CLSID_TwBrioFx)));
    // Already gone: the mapper's file-not-found counts as success.
    EXPECT_EQ(setup->Unregister(), S_OK);
    EXPECT_EQ(setup->Release(), 0u);
    // What the mapper left of our class key goes with the module's own unregistration.
    EXPECT_EQ(module.Unregister(), S_OK);
    EXPECT_FALSE(KeyExists(key));
}
