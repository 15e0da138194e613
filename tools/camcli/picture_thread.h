#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "preview_window.h"

// What a source tells of the frame it just gave.
struct FrameNote {
    bool numbered = false;  // sequence holds the frame's number
    uint64_t sequence = 0;  // numbers start again at 0 when the device starts again
    int64_t dropped = -1;   // the device's own count of dropped frames; -1: not reported
};

struct PreviewStats {
    unsigned long long frames = 0;  // pictures taken so far
    double fps = 0;                 // measured over about the last second
    unsigned long long missed = 0;  // gaps in the frames' numbers
    long long dropped = -1;         // the device's count, as the newest frame reported it
    std::string failure;            // why the thread ended early; empty while it runs
};

// Takes pictures on a thread of its own and hands each one to the window, so that no wait for a
// frame ever holds up the window's message loop.
class PictureThread {
public:
    // take fills the picture and returns true when it got one; it should not wait much longer
    // than 100 ms, so that stop() is quick.
    using Take = std::function<bool(Picture&, FrameNote&)>;
    PictureThread(Take take, PreviewWindow& window);
    ~PictureThread();
    PictureThread(const PictureThread&) = delete;
    PictureThread& operator=(const PictureThread&) = delete;

    void stop();
    PreviewStats stats() const;

private:
    void loop();
    void count(const FrameNote& note);

    Take take_;
    PreviewWindow& window_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;  // guards stats_ and times_
    PreviewStats stats_;
    std::deque<std::chrono::steady_clock::time_point> times_;
    bool haveLast_ = false;
    uint64_t last_ = 0;
    std::thread thread_;
};
