#pragma once
#include <cstddef>

// While an instance lives, every operator new of at least `atLeast` bytes made on the creating
// thread throws std::bad_alloc, as it does for a large frame under memory pressure. Only code
// built into the test program is affected (the library's own sources compiled in), not the DLLs.
class FailingAllocation {
public:
    explicit FailingAllocation(std::size_t atLeast);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;
};
