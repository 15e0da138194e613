#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
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

// What a described callback saw: each frame's description and the device's own sequence number
// (bytes 0-3 of uncompressed frames).
struct InfoLog {
    std::mutex mutex;
    std::vector<FrameInfo> infos;
    std::vector<uint32_t> deviceSequences;

    static void receive(const uint8_t* frame, const FrameInfo* info, void* userData) {
        auto* log = static_cast<InfoLog*>(userData);
        uint32_t deviceSequence = 0;
        std::memcpy(&deviceSequence, frame, 4);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->infos.push_back(*info);
        log->deviceSequences.push_back(deviceSequence);
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return infos.size();
    }
    // True once at least `wanted` frames arrived, false after ten seconds.
    bool waitFor(std::size_t wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (count() < wanted && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return count() >= wanted;
    }
};

