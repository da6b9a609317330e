// Counts the module's zero-filled allocations while it lives, so a test can prove that a
// processing path allocates nothing. One at a time: the hook is process-wide.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstddef>

namespace testing_support {

class AllocationCounter {
public:
    AllocationCounter() {
        count_ = 0;
        tw::SetZeroAllocHook(&Count);
    }
    ~AllocationCounter() { tw::SetZeroAllocHook(nullptr); }
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    int count() const { return count_.load(); }

private:
    static bool Count(size_t) {
        ++count_;
        return true;
    }
    static inline std::atomic<int> count_{0};
};

}  // namespace testing_support
