#pragma once
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <vector>

// What the device did with the frames of its current stream: delivered or dropped, and the
// numbers of the dropped ones. Frames are numbered from 0 at each start from stopped, in the
// order they fell due, delivered and dropped alike. The streaming thread counts; hosts read
// through IAMDroppedFrames on any thread.
class FrameCounters {
public:
    void reset();
    // One frame handed downstream, of `bytes` bytes.
    void delivered(long bytes);
    // `count` frames that fell due and were never delivered.
    void dropped(uint64_t count);

    long droppedCount() const;
    long deliveredCount() const;
    // Mean size of the delivered frames in bytes, 0 before the first.
    long averageSize() const;
    // Copies up to `capacity` numbers of dropped frames, oldest first; returns how many.
    long droppedNumbers(long* numbers, long capacity) const;

private:
    mutable std::mutex mutex_;
    uint64_t delivered_ = 0;
    uint64_t dropped_ = 0;
    uint64_t bytes_ = 0;
    std::vector<long> numbers_;  // the first ones only: a device keeps a bounded list
};
