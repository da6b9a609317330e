// A top-level test window that hosts the editor's controls and records every notification they
// send or post to it.
#pragma once

#ifdef _WIN32

#include "editor/controls.h"

#include <vector>

namespace tw::test {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int notifyCode;   // WM_NOTIFY: the header's code
    UINT_PTR notifyId;
    UINT key;         // TRKN_KEYDOWN: key, repeat count
    UINT repeat;
};

struct Scroll {
    int code;
    WORD position;
    bool operator==(const Scroll& o) const { return code == o.code && position == o.position; }
};

class ControlHost {
public:
    ControlHost();
    ~ControlHost();
    ControlHost(const ControlHost&) = delete;
    ControlHost& operator=(const ControlHost&) = delete;

    HWND window() const { return window_; }
    HWND Create(const WCHAR* className, DWORD style, int id, int x, int y, int width, int height,
                const WCHAR* text = L"");

    const std::vector<Received>& received() const { return received_; }
    void Clear() { received_.clear(); }
    // The scroll codes (and position words) received, in order.
    std::vector<Scroll> Scrolls() const;
    std::vector<int> ScrollCodes() const;
    // Retrieves the messages of one kind posted to the host so far and records them.
    void CollectPosted(UINT message);
    int Count(UINT message) const;

    // The brush the host hands to a control that asks for the dialog background.
    static COLORREF Background() { return RGB(0x40, 0x80, 0x20); }

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Record(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HBRUSH background_ = nullptr;
    std::vector<Received> received_;
};

HINSTANCE TestModule();

// Paints a window through WM_PRINTCLIENT into a 32-bit bitmap and reads pixels back.
class Canvas {
public:
    Canvas(HWND window);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

}  // namespace tw::test

#endif  // _WIN32
