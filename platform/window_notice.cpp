#include "platform/window_notice.h"

#ifdef _WIN32

namespace tw {

bool PostNotice(HWND window, WORD id, WORD code) {
    if (!window || !IsWindow(window)) return false;
    const WPARAM wParam = (static_cast<WPARAM>(code) << 16) | id;
    return PostMessageW(window, WM_COMMAND, wParam, 0) != FALSE;
}

HWND CreateNoticeWindow() {
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

void DestroyNoticeWindow(HWND window) {
    if (!window) return;
    MSG msg;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
    }
    DestroyWindow(window);
}

size_t TakePostedMessages(HWND window, PostedMessage* out, size_t capacity) {
    size_t count = 0;
    MSG msg;
    while (count < capacity && PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
        out[count++] = {msg.message, msg.wParam, msg.lParam};
    }
    return count;
}

}  // namespace tw

#else  // native stand-in

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

namespace tw {

namespace {

struct WindowTable {
    std::mutex mutex;
    uintptr_t nextHandle = 0x10000;
    // Every handle ever given out stays known, so a gone window is told apart from a live one.
    std::map<HWND, bool> alive;
    std::map<HWND, std::deque<PostedMessage>> queues;
};

WindowTable& Table() {
    static WindowTable table;
    return table;
}

}  // namespace

bool PostNotice(HWND window, WORD id, WORD code) {
    WindowTable& table = Table();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto it = table.alive.find(window);
    if (!window || it == table.alive.end() || !it->second) return false;
    const WPARAM wParam = (static_cast<WPARAM>(code) << 16) | id;
    table.queues[window].push_back({WM_COMMAND, wParam, 0});
    return true;
}

HWND CreateNoticeWindow() {
    WindowTable& table = Table();
    std::lock_guard<std::mutex> guard(table.mutex);
    HWND window = reinterpret_cast<HWND>(table.nextHandle);
    table.nextHandle += 0x10;
    table.alive[window] = true;
    return window;
}

void DestroyNoticeWindow(HWND window) {
    WindowTable& table = Table();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto it = table.alive.find(window);
    if (it == table.alive.end()) return;
    it->second = false;
    table.queues.erase(window);
}

size_t TakePostedMessages(HWND window, PostedMessage* out, size_t capacity) {
    WindowTable& table = Table();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto it = table.queues.find(window);
    if (it == table.queues.end()) return 0;
    size_t count = 0;
    while (count < capacity && !it->second.empty()) {
        out[count++] = it->second.front();
        it->second.pop_front();
    }
    return count;
}

}  // namespace tw

#endif
