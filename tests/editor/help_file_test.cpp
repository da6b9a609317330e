#ifdef _WIN32

#include "filter/brio_fx.h"
#include "resources/resource_ids.h"
#include "tests/editor/page_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tw::test {
namespace {

using GetClassObjectProc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// The module as the build leaves it beside the test programs: build/server/briofx.dll.
std::wstring ModulePath() {
    WCHAR path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    for (int up = 0; up < 3; ++up) s = s.substr(0, s.find_last_of(L"\\/"));
    return s + L"\\server\\briofx.dll";
}

std::vector<unsigned char> ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint64_t U64(const std::vector<unsigned char>& b, size_t at) {
    return U32(b, at) | static_cast<uint64_t>(U32(b, at + 4)) << 32;
}

// The compiled file's directory: every entry's name with its length in bytes, read from the
// listing chunks ("PMGL") of the directory section ("ITSP"). Empty when the file is not a
// compiled help file; `error` says where reading stopped.
std::map<std::string, uint64_t> ReadDirectory(const std::vector<unsigned char>& b, std::string* error) {
    std::map<std::string, uint64_t> entries;
    if (b.size() < 0x60 || std::string(b.begin(), b.begin() + 4) != "ITSF") {
        *error = "no ITSF header";
        return entries;
    }
    const uint64_t dir = U64(b, 0x48);
    const uint64_t dirLength = U64(b, 0x50);
    if (dir + 0x54 > b.size() || dir + dirLength > b.size() || std::string(b.begin() + dir, b.begin() + dir + 4) != "ITSP") {
        *error = "no ITSP directory";
        return entries;
    }
    const uint32_t headerLength = U32(b, dir + 0x08);
    const uint32_t chunkSize = U32(b, dir + 0x10);
    const uint32_t chunks = U32(b, dir + 0x2C);
    if (chunkSize < 0x20 || dir + headerLength + uint64_t(chunks) * chunkSize > b.size()) {
        *error = "directory chunks outside the file";
        return entries;
    }
    for (uint32_t c = 0; c < chunks; ++c) {
        const size_t chunk = dir + headerLength + size_t(c) * chunkSize;
        if (std::string(b.begin() + chunk, b.begin() + chunk + 4) != "PMGL") continue;  // index chunk
        const size_t end = chunk + chunkSize - U32(b, chunk + 4);
        size_t at = chunk + 0x14;
        auto encint = [&](uint64_t* v) {
            *v = 0;
            while (at < end) {
                const unsigned char byte = b[at++];
                *v = (*v << 7) | (byte & 0x7F);
                if (!(byte & 0x80)) return true;
            }
            return false;
        };
        while (at < end) {
            uint64_t nameLength = 0, section = 0, offset = 0, length = 0;
            if (!encint(&nameLength) || at + nameLength > end) {
                *error = "broken directory entry";
                return {};
            }
            const std::string name(b.begin() + at, b.begin() + at + nameLength);
            at += nameLength;
            if (!encint(&section) || !encint(&offset) || !encint(&length)) {
                *error = "broken directory entry " + name;
                return {};
            }
            entries[name] = length;
        }
    }
    return entries;
}

// The top-level windows of this process that are visible.
std::set<HWND> OwnVisibleWindows() {
    std::set<HWND> windows;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(w, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(w)) reinterpret_cast<std::set<HWND>*>(p)->insert(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

class HelpFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(ModulePath().c_str());
        ASSERT_NE(module_, nullptr) << "briofx.dll is built beside the tests";
        getClass_ = reinterpret_cast<GetClassObjectProc>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        ASSERT_NE(getClass_, nullptr);
        filter_ = Create(CLSID_TwBrioFx, IID_IUnknown);
        ASSERT_NE(filter_, nullptr);
        ISpecifyPropertyPages* specify = nullptr;
        ASSERT_EQ(filter_->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify)), S_OK);
        CAUUID pages = {};
        ASSERT_EQ(specify->GetPages(&pages), S_OK);
        specify->Release();
        ASSERT_EQ(pages.cElems, 1u);
        const CLSID pageClass = pages.pElems[0];
        CoTaskMemFree(pages.pElems);
        page_ = static_cast<IPropertyPage*>(Create(pageClass, IID_IPropertyPage));
        ASSERT_NE(page_, nullptr);
    }

    void TearDown() override {
        if (page_) page_->Release();
        if (filter_) filter_->Release();
        // The module stays loaded, as in the other module test: its window classes share names
        // with the ones this program registers.
    }

    IUnknown* Create(REFCLSID clsid, REFIID iid) {
        IClassFactory* factory = nullptr;
        if (FAILED(getClass_(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
        IUnknown* object = nullptr;
        factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
        factory->Release();
        return object;
    }

    // The help file the module's page hands to its host.
    std::wstring PageHelpFile() {
        PROPPAGEINFO info = {};
        if (page_->GetPageInfo(&info) != S_OK) return L"";
        std::wstring file = info.pszHelpFile ? info.pszHelpFile : L"";
        CoTaskMemFree(info.pszTitle);
        CoTaskMemFree(info.pszHelpFile);
        return file;
    }

    HMODULE module_ = nullptr;
    GetClassObjectProc getClass_ = nullptr;
    IUnknown* filter_ = nullptr;
    IPropertyPage* page_ = nullptr;
};

// The build puts briofx.chm beside briofx.dll, where the page looks for it, and it holds the
// table of contents, the index and every page they point to.
TEST_F(HelpFileTest, TheHelpFileTheModulesPageNamesIsACompiledHelpFileWithThePages) {
    const std::wstring file = PageHelpFile();
    ASSERT_GE(file.size(), 10u);
    EXPECT_EQ(file.substr(file.size() - 10), L"briofx.chm");
    const std::vector<unsigned char> bytes = ReadAll(file);
    ASSERT_GT(bytes.size(), 0x60u) << "missing or empty help file";
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ITSF");
    EXPECT_EQ(U32(bytes, 4), 3u);  // the format version that help viewers read

    std::string error;
    const std::map<std::string, uint64_t> entries = ReadDirectory(bytes, &error);
    ASSERT_FALSE(entries.empty()) << error;
    for (const char* name : {"/overview.htm", "/distortion.htm", "/eq.htm", "/lfo.htm", "/delay.htm", "/reverb.htm",
                             "/presets.htm", "/briofx.css", "/briofx.hhc", "/briofx.hhk", "/#SYSTEM"}) {
        const auto it = entries.find(name);
        ASSERT_NE(it, entries.end()) << name;
        EXPECT_GT(it->second, 200u) << name;  // a page, not a stub
    }
}

// "Help" from the page menu opens the window on the help file and the window goes away with the
// page; neither step waits for the user.
TEST_F(HelpFileTest, HelpCommandOpensTheWindowAndClosingThePageClosesIt) {
    ASSERT_NE(GetFileAttributesW(PageHelpFile().c_str()), INVALID_FILE_ATTRIBUTES);
    ControlHost host;
    TestSite site;
    ASSERT_EQ(page_->SetPageSite(&site), S_OK);
    ASSERT_EQ(page_->SetObjects(1, &filter_), S_OK);
    const RECT rect = {0, 0, 760, 250};
    ASSERT_EQ(page_->Activate(host.window(), &rect, FALSE), S_OK);
    HWND window = PageWindow(host.window());
    ASSERT_NE(window, nullptr);

    const std::set<HWND> before = OwnVisibleWindows();
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP, 0), 0);
    PumpMessages();
    const std::set<HWND> opened = OwnVisibleWindows();
    std::vector<HWND> help;
    for (HWND w : opened) {
        if (!before.count(w)) help.push_back(w);
    }
    EXPECT_EQ(help.size(), 1u) << "one help window";
    for (HWND w : help) {
        WCHAR title[64] = {};
        GetWindowTextW(w, title, 64);
        EXPECT_STREQ(title, L"BRIO FX Help");  // the title the help file carries
    }

    EXPECT_EQ(page_->Deactivate(), S_OK);
    PumpMessages();
    for (HWND w : help) EXPECT_FALSE(IsWindow(w) && IsWindowVisible(w)) << "the help window outlives the page";
    EXPECT_EQ(page_->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page_->SetPageSite(nullptr), S_OK);
}

}  // namespace
}  // namespace tw::test

#endif  // _WIN32
