#include "frame_counters.h"

#include <algorithm>
#include <climits>

namespace {
// How many dropped frame numbers the device remembers per stream.
constexpr size_t kMaxNumbers = 4096;

long clampToLong(uint64_t value) { return static_cast<long>(std::min<uint64_t>(value, LONG_MAX)); }
}  // namespace

void FrameCounters::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    delivered_ = dropped_ = bytes_ = 0;
    numbers_.clear();
}

void FrameCounters::delivered(long bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++delivered_;
    bytes_ += static_cast<uint64_t>(std::max(bytes, 0L));
}

void FrameCounters::dropped(uint64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t first = delivered_ + dropped_;
    for (uint64_t i = 0; i < count && numbers_.size() < kMaxNumbers; ++i)
        numbers_.push_back(clampToLong(first + i));
    dropped_ += count;
}

long FrameCounters::droppedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clampToLong(dropped_);
}

long FrameCounters::deliveredCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clampToLong(delivered_);
}

long FrameCounters::averageSize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_ ? clampToLong(bytes_ / delivered_) : 0;
}

long FrameCounters::droppedNumbers(long* numbers, long capacity) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t count = std::min(numbers_.size(), static_cast<size_t>(std::max(capacity, 0L)));
    std::copy_n(numbers_.begin(), count, numbers);
    return static_cast<long>(count);
}
