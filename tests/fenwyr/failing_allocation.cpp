#include "failing_allocation.h"

#include <cstdlib>
#include <new>

namespace {

// 0: no failure armed on this thread.
thread_local std::size_t failFrom = 0;

}  // namespace

FailingAllocation::FailingAllocation(std::size_t atLeast) {
    failFrom = atLeast;
}

FailingAllocation::~FailingAllocation() {
    failFrom = 0;
}

// The program's replacements of the global allocation functions.
void* operator new(std::size_t size) {
    if (failFrom != 0 && size >= failFrom)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
