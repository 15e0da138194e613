#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "fenwyr.h"

// What a host's frame callback saw: the header the virtual device writes into every frame.
struct Frame {
    uint32_t sequence;  // bytes 0-3: 0 for the first frame after each start
    uint32_t tag;       // bytes 4-7: the device's Tag
    int32_t length;
};

// Frames received by one host callback, in arrival order. The callbacks run on DirectShow's
// streaming threads while the test thread reads.
class FrameLog {
public:
    void add(const uint8_t* bytes, int32_t length);
    std::vector<Frame> frames();
    std::size_t count();
    // True once at least `count` frames arrived, false after the time-out.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Frame> frames_;
};

// A host callback takes no context, so each of these few callbacks feeds its own log.
constexpr int kFrameLogs = 4;
FrameLog& frameLog(int slot);
FrameArrivedCallback frameCallback(int slot);
