// Change notices to editor windows: a WM_COMMAND posted (never sent) with wParam = (code << 16) | id
// and lParam 0, so no thread ever waits on the editor's message loop. On the windows target these
// are the system's windows; natively a small stand-in hands out handles, records what is posted to
// each and knows which handles are gone.
#pragma once

#include "platform/platform.h"

#include <cstddef>

#ifndef _WIN32
struct HWND__;
typedef HWND__* HWND;
#ifndef WM_COMMAND
#define WM_COMMAND 0x0111
#endif
#endif

namespace tw {

// Posts the notice; false when the handle no longer names a window (nothing is posted then).
// [any thread]
bool PostNotice(HWND window, WORD id, WORD code);

// ---- Windows for tests ------------------------------------------------------------------------

struct PostedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A window that keeps what is posted to it (on windows a message-only window of the calling
// thread, whose queue the same thread reads back). Null on failure.
HWND CreateNoticeWindow();
void DestroyNoticeWindow(HWND window);

// Removes up to `capacity` messages posted to the window, oldest first; returns how many.
size_t TakePostedMessages(HWND window, PostedMessage* out, size_t capacity);

}  // namespace tw
