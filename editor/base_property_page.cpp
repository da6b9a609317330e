#include "editor/base_property_page.h"

#ifdef _WIN32

#include "filter/resource_strings.h"

namespace {

// Size a host reserves for a page whose dialog cannot be measured.
constexpr LONG kFallbackWidth = 300;
constexpr LONG kFallbackHeight = 150;

INT_PTR CALLBACK MeasureProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// The dialog's real pixel size with the current font and DPI: made hidden under the desktop and
// destroyed again.
SIZE MeasureDialog(HINSTANCE module, int dialogId) {
    SIZE size = {kFallbackWidth, kFallbackHeight};
    HWND probe = CreateDialogParamW(module, MAKEINTRESOURCEW(dialogId), GetDesktopWindow(), MeasureProc, 0);
    if (probe) {
        RECT r;
        GetWindowRect(probe, &r);
        size.cx = r.right - r.left;
        size.cy = r.bottom - r.top;
        DestroyWindow(probe);
    }
    return size;
}

}  // namespace

CBasePropertyPage::CBasePropertyPage(IUnknown* outer, int dialogId, int titleId)
    : CUnknown(outer), titleId_(titleId), dialogId_(dialogId) {}

CBasePropertyPage::~CBasePropertyPage() {
    if (window_) DestroyWindow(window_);
    if (site_) site_->Release();
}

HINSTANCE CBasePropertyPage::ResourceModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CBasePropertyPage::ResourceModule), &module);
    return module;
}

int CBasePropertyPage::LoadPageString(UINT id, WCHAR* buffer, int capacity) {
    // The shared loader knows the host's language once the server has named the module; before
    // that, the module's own table.
    int n = tw::LoadResString(id, buffer, capacity);
    if (n == 0 && capacity > 0) n = LoadStringW(ResourceModule(), id, buffer, capacity);
    return n;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IPropertyPage)) return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite* site) {
    if (site) {
        if (site_) return E_UNEXPECTED;
        site_ = site;
        site_->AddRef();
    } else {
        if (!site_) return E_UNEXPECTED;
        site_->Release();
        site_ = nullptr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect) return E_POINTER;
    if (window_) return E_UNEXPECTED;
    // WM_INITDIALOG, inside the create call, already records the window.
    HWND created = CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(dialogId_), parent, DialogProc,
                                      reinterpret_cast<LPARAM>(this));
    if (!created) return E_OUTOFMEMORY;
    window_ = created;
    OnActivate();
    Move(rect);
    return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate() {
    if (!window_) return E_UNEXPECTED;
    const LONG_PTR exStyle = GetWindowLongPtrW(window_, GWL_EXSTYLE);
    SetWindowLongPtrW(window_, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_CONTROLPARENT));
    OnDeactivate();
    HWND doomed = window_;
    window_ = nullptr;
    DestroyWindow(doomed);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) return E_POINTER;
    WCHAR title[256];
    LoadPageString(static_cast<UINT>(titleId_), title, 256);
    const size_t bytes = (lstrlenW(title) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    CopyMemory(copy, title, bytes);

    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = copy;
    info->size = MeasureDialog(ResourceModule(), dialogId_);
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 1) {
        if (!objects || !objects[0]) return E_POINTER;
        objectSet_ = TRUE;
        return OnConnect(objects[0]);
    }
    if (count == 0) {
        objectSet_ = FALSE;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT command) {
    if (!window_) return E_UNEXPECTED;
    if (command != SW_HIDE && command != SW_SHOWNORMAL && command != SW_SHOW) return E_INVALIDARG;
    ShowWindow(window_, static_cast<int>(command));
    InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT rect) {
    if (!rect) return E_POINTER;
    if (!window_) return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply() {
    if (!objectSet_ || !site_) return E_UNEXPECTED;
    if (dirty_) {
        const HRESULT hr = OnApplyChanges();
        if (SUCCEEDED(hr)) dirty_ = FALSE;
        return hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG*) { return E_NOTIMPL; }

HRESULT CBasePropertyPage::OnConnect(IUnknown*) { return S_OK; }
HRESULT CBasePropertyPage::OnDisconnect() { return S_OK; }
HRESULT CBasePropertyPage::OnActivate() { return S_OK; }
HRESULT CBasePropertyPage::OnDeactivate() { return S_OK; }
HRESULT CBasePropertyPage::OnApplyChanges() { return S_OK; }

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CBasePropertyPage* page = nullptr;
    if (message == WM_INITDIALOG) {
        page = reinterpret_cast<CBasePropertyPage*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        if (page) page->window_ = window;
    } else {
        page = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!page) return FALSE;
    if (message == WM_NCDESTROY) {
        // Nothing may reach the object through a window that is gone.
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    }
    return page->OnReceiveMessage(window, message, wParam, lParam);
}

#endif  // _WIN32
