// The framework's property page: IPropertyPage over a dialog resource, with the hooks a concrete
// page fills in. The page lives on the host's user-interface thread; every method here is
// [page thread].
#pragma once

#include "platform/platform.h"

#ifdef _WIN32

#include "platform/dshow/combase.h"

#include <ocidl.h>

class CBasePropertyPage : public IPropertyPage, public CUnknown {
public:
    // dialogId: the page's dialog resource; titleId: the string shown on the host's tab.
    CBasePropertyPage(IUnknown* outer, int dialogId, int titleId);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPropertyPage.
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

    // Hooks.
    virtual HRESULT OnConnect(IUnknown* object);
    virtual HRESULT OnDisconnect();
    virtual HRESULT OnActivate();
    virtual HRESULT OnDeactivate();
    virtual HRESULT OnApplyChanges();
    // The dialog procedure of the page: TRUE for a message it handled.
    virtual INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The module the page's code, dialogs and strings come from.
    static HINSTANCE ResourceModule();

    // Loads a string of the module in the resource language; returns its length.
    static int LoadPageString(UINT id, WCHAR* buffer, int capacity);

    HWND window() const { return window_; }

protected:
    ~CBasePropertyPage() override;

    IPropertyPageSite* site_ = nullptr;
    HWND window_ = nullptr;
    BOOL dirty_ = FALSE;
    int titleId_;
    int dialogId_;
    BOOL objectSet_ = FALSE;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

#endif  // _WIN32
