#include "platform/platform.h"

#include <atomic>
#include <cstdlib>
#include <cstdint>

#ifndef _WIN32
#include <mutex>
#endif

namespace tw {

namespace {
std::atomic<AllocHook> g_allocHook{nullptr};
}

void SetZeroAllocHook(AllocHook hook) { g_allocHook.store(hook); }

void* ZeroAlloc(size_t bytes) {
    AllocHook hook = g_allocHook.load();
    if (hook && !hook(bytes)) return nullptr;
#ifdef _WIN32
    return GlobalAlloc(GPTR, bytes ? bytes : 1);
#else
    return std::calloc(bytes ? bytes : 1, 1);
#endif
}

void ZeroFree(void* p) {
    if (!p) return;
#ifdef _WIN32
    GlobalFree(p);
#else
    std::free(p);
#endif
}

}  // namespace tw

#ifndef _WIN32

void InitializeCriticalSection(CRITICAL_SECTION* cs) { cs->impl = new std::recursive_mutex; }
void DeleteCriticalSection(CRITICAL_SECTION* cs) {
    delete static_cast<std::recursive_mutex*>(cs->impl);
    cs->impl = nullptr;
}
void EnterCriticalSection(CRITICAL_SECTION* cs) { static_cast<std::recursive_mutex*>(cs->impl)->lock(); }
void LeaveCriticalSection(CRITICAL_SECTION* cs) { static_cast<std::recursive_mutex*>(cs->impl)->unlock(); }

LONG InterlockedIncrement(volatile LONG* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(volatile LONG* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

// 64-bit product, rounded half away from zero; -1 on a zero divisor or a result beyond 32 bits.
int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    int64_t product = static_cast<int64_t>(number) * numerator;
    int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const int64_t half = divisor / 2;
    const int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > INT32_MAX || result < -INT32_MAX) return -1;
    return static_cast<int>(result);
}

#endif
