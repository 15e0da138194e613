#include "frame_log.h"

#include <cstring>

void FrameLog::add(const uint8_t* bytes, int32_t length) {
    Frame frame{0xFFFFFFFFu, 0xFFFFFFFFu, length};
    if (bytes && length >= 8) {
        std::memcpy(&frame.sequence, bytes, 4);
        std::memcpy(&frame.tag, bytes + 4, 4);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame);
    }
    arrived_.notify_all();
}

std::vector<Frame> FrameLog::frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::size_t FrameLog::count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

bool FrameLog::waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

namespace {

FrameLog logs[kFrameLogs];

template <int Slot>
void receive(uint8_t* bytes, int32_t length) {
    logs[Slot].add(bytes, length);
}

const FrameArrivedCallback callbacks[kFrameLogs] = {receive<0>, receive<1>, receive<2>, receive<3>};

}  // namespace

FrameLog& frameLog(int slot) {
    return logs[slot];
}

FrameArrivedCallback frameCallback(int slot) {
    return callbacks[slot];
}
