// CTwBrioFxPropPage: the plug-in's editor. It keeps no copy of the parameters: every control reads
// the filter's ITwBrioFxProp and writes each change straight back, and the filter's notice (command
// 32700) makes the page re-read everything. So Apply has nothing to do and the page is never dirty.
// Everything here runs on the host's user-interface thread [page thread].
#pragma once

#include "platform/platform.h"

#ifdef _WIN32

#include "editor/base_property_page.h"
#include "editor/number_format.h"
#include "filter/brio_fx_prop.h"

class CTwBrioFxPropPage : public CBasePropertyPage {
public:
    // The class-table create function: a new page, reference count 0, or null with *hr set
    // (E_OUTOFMEMORY).
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    explicit CTwBrioFxPropPage(IUnknown* outer);

    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    virtual void InitControls();
    // Brings the controls in line with the parameters; 0 (or the notice id) means all.
    virtual void UpdateControls(int controlId);
    virtual void EnableDelayControls(int on, int clock);
    virtual void EnableLfoControls(int on, int clock);

protected:
    ~CTwBrioFxPropPage() override;

private:
    void OnSlider(HWND slider, int code);
    void OnCommand(int id, int code, HWND control);
    void OnTypedValue(int id);
    void ShowPageMenu(int x, int y);
    void LoadPresetCommand(int command);
    void SetUpLogoStrip();
    void ShowAbout();
    void ShowHtmlHelp();
    void ShowContextHelp(const HELPINFO* info);
    void FindHelpFiles();

    // Control helpers; each skips a control the dialog does not have.
    void SetCheck(int id, int value);
    void EnableIds(const int* ids, int count, bool on);
    void SelectItemByData(int id, int value);
    void ShowValue(int id, const tw::WString& text);
    void MoveSlider(int id, int value);
    // One slider/value row of UpdateControls.
    void UpdateSliderRow(int controlId, int sliderId, int valueId, int value, const tw::WString& text);

    ITwBrioFxProp* prop_ = nullptr;
    IUnknown* object_ = nullptr;  // no reference: only asked for the preset interface
    WCHAR helpFile_[MAX_PATH];    // .hlp: context popups
    WCHAR htmlHelpFile_[MAX_PATH];  // .chm: the help window
    // The preset index of each command of the last menu (command 40500 + k).
    int menuPresets_[500];
    int menuPresetCount_ = 0;
};

// The page's class-table entry, for the module's factory template.
CUnknown* CreateBrioFxPropPage(IUnknown* outer, HRESULT* hr);

namespace tw {

// ---- test seams ----------------------------------------------------------------------------------
// The number symbols the page shows and parses values with; null restores the user's.
void SetPageNumberSymbols(const NumberSymbols* symbols);

// Shows the page menu at (x, y) and returns the chosen command, 0 for none (default: a
// right-button-tracking popup menu owned by `owner`).
using PageMenuTracker = UINT (*)(HMENU menu, int x, int y, HWND owner);
void SetPageMenuTracker(PageMenuTracker tracker);

// Help requests: the .hlp popup of a context id or the .chm window (context 0). The default
// routine does nothing for a help file that does not exist.
// kWindowGone: the page window is being destroyed (file null).
enum class PageHelpKind { kContextPopup, kHtmlWindow, kWindowGone };
using PageHelpRoutine = void (*)(PageHelpKind kind, const WCHAR* file, DWORD context, HWND window);
void SetPageHelpRoutine(PageHelpRoutine routine);

// The help context of a page control for WM_HELP, 0 for none.
DWORD PageHelpContext(int controlId);

}  // namespace tw

#endif  // _WIN32
