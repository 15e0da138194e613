#pragma once
// One frame seen twice in the same delivery: its own bytes (fenwyr's plain callback, which runs
// first) and fenwyr's picture of it (the described callback). For programs that link fenwyr.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "reference_picture.h"

class FramePair {
public:
    // Takes the device's next frame twice; returns once it came (true) or after `limit`.
    static bool take(int32_t device, std::chrono::milliseconds limit) {
        FramePair& pair = instance();
        {
            std::lock_guard<std::mutex> lock(pair.mutex_);
            pair.taken_ = false;
        }
        setFrameArrivedCallback(device, onNative);
        setFrameCallbackEx(device, onPicture, nullptr);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(pair.mutex_);
                if (pair.taken_)
                    return true;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    static const std::vector<uint8_t>& native() { return instance().native_; }
    static const std::vector<uint8_t>& picture() { return instance().picture_; }

private:
    static FramePair& instance() {
        static FramePair pair;
        return pair;
    }
    static void onNative(uint8_t* bytes, int32_t length) {
        FramePair& pair = instance();
        std::lock_guard<std::mutex> lock(pair.mutex_);
        pair.candidate_.assign(bytes, bytes + length);
    }
    static void onPicture(const uint8_t* bytes, const FrameInfo* info, void*) {
        FramePair& pair = instance();
        std::lock_guard<std::mutex> lock(pair.mutex_);
        if (pair.taken_)
            return;
        pair.native_ = pair.candidate_;
        pair.picture_.assign(bytes, bytes + info->length);
        pair.taken_ = true;
    }

    std::mutex mutex_;
    std::vector<uint8_t> candidate_, native_, picture_;
    bool taken_ = false;
};

// The reference's description of a capability's frames; `bottomUp` from getResolutions' height.
inline ReferenceFormat referenceFormatOf(const FormatInfo& f, bool bottomUp) {
    ReferenceFormat layout;
    layout.width = f.width;
    layout.height = f.height;
    layout.bitCount = f.bitCount;
    layout.pixelFormat = f.pixelFormat;
    layout.fourcc = f.fourcc;
    layout.bottomUp = bottomUp;
    return layout;
}
