#pragma once
#include <atomic>

// Counts one more for as long as it lives, whichever way the scope is left.
class ScopedCount {
public:
    explicit ScopedCount(std::atomic<int>& count) : count_(count) { ++count_; }
    ~ScopedCount() { --count_; }
    ScopedCount(const ScopedCount&) = delete;
    ScopedCount& operator=(const ScopedCount&) = delete;

private:
    std::atomic<int>& count_;
};
