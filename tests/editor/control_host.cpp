#ifdef _WIN32

#include "tests/editor/control_host.h"

#include <gtest/gtest.h>

namespace tw::test {

namespace {

constexpr WCHAR kHostClass[] = L"twEditorTestHost";

// The controls are registered once for the whole program, as the module does at load.
class ControlsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(RegisterEditorClasses(TestModule()));
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ControlHost::Proc;
        wc.hInstance = TestModule();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kHostClass;
        ASSERT_NE(RegisterClassExW(&wc), 0);
    }
    void TearDown() override {
        UnregisterClassW(kHostClass, TestModule());
        UnregisterEditorClasses(TestModule());
    }
};

}  // namespace

HINSTANCE TestModule() { return GetModuleHandleW(nullptr); }

ControlHost::ControlHost() {
    background_ = CreateSolidBrush(Background());
    // Kept hidden: showing a top-level window under a bare X server costs seconds per test, and
    // the controls paint, take the focus and capture the mouse all the same.
    window_ = CreateWindowExW(0, kHostClass, L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 40,
                              1200, 300, nullptr, nullptr, TestModule(), this);
}

ControlHost::~ControlHost() {
    if (window_) DestroyWindow(window_);
    DeleteObject(background_);
}

HWND ControlHost::Create(const WCHAR* className, DWORD style, int id, int x, int y, int width, int height,
                         const WCHAR* text) {
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), TestModule(), nullptr);
}

std::vector<Scroll> ControlHost::Scrolls() const {
    std::vector<Scroll> out;
    for (const Received& r : received_) {
        if (r.message == WM_HSCROLL || r.message == WM_VSCROLL) {
            out.push_back({LOWORD(r.wParam), HIWORD(r.wParam)});
        }
    }
    return out;
}

std::vector<int> ControlHost::ScrollCodes() const {
    std::vector<int> out;
    for (const Scroll& s : Scrolls()) out.push_back(s.code);
    return out;
}

void ControlHost::CollectPosted(UINT message) {
    MSG m;
    while (PeekMessageW(&m, window_, message, message, PM_REMOVE)) Record(m.message, m.wParam, m.lParam);
}

int ControlHost::Count(UINT message) const {
    int n = 0;
    for (const Received& r : received_) n += r.message == message;
    return n;
}

void ControlHost::Record(UINT message, WPARAM wParam, LPARAM lParam) {
    Received r = {message, wParam, lParam, 0, 0, 0, 0};
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        r.notifyCode = static_cast<int>(header->code);
        r.notifyId = header->idFrom;
        if (r.notifyCode == TRKN_KEYDOWN) {
            const auto* key = reinterpret_cast<const TrackbarKeyNotify*>(lParam);
            r.key = key->key;
            r.repeat = key->repeatCount;
        }
    }
    received_.push_back(r);
}

LRESULT CALLBACK ControlHost::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* host = reinterpret_cast<ControlHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host) {
        switch (message) {
            case WM_HSCROLL:
            case WM_VSCROLL:
            case WM_NOTIFY:
            case WM_COMMAND:
            case WM_CONTEXTMENU:
            case LOGON_CLICKED:
                host->Record(message, wParam, lParam);
                return 0;
            case WM_CTLCOLORDLG: return reinterpret_cast<LRESULT>(host->background_);
            default: break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

Canvas::Canvas(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = r.right;
    bi.bmiHeader.biHeight = -r.bottom;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_), PRF_CLIENT);
}

Canvas::~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

namespace {
struct EnvironmentInstaller {
    EnvironmentInstaller() { ::testing::AddGlobalTestEnvironment(new ControlsEnvironment); }
} g_installer;
}  // namespace

}  // namespace tw::test

#endif  // _WIN32
