#include "picture_thread.h"

#include <exception>
#include <utility>

PictureThread::PictureThread(Take take, PreviewWindow& window) : take_(std::move(take)), window_(window) {
    thread_ = std::thread([this] { loop(); });
}

PictureThread::~PictureThread() {
    stop();
}

void PictureThread::stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
}

PreviewStats PictureThread::stats() const {
    std::lock_guard<std::mutex> guard(lock_);
    PreviewStats stats = stats_;
    // No frame for a second: the rate is no longer what the last frames gave.
    if (times_.empty() || std::chrono::steady_clock::now() - times_.back() > std::chrono::seconds(1))
        stats.fps = 0;
    return stats;
}

void PictureThread::loop() {
    // Nothing may leave a thread by exception: the failure is reported in the status instead.
    try {
        Picture picture;
        while (!stopping_) {
            FrameNote note;
            if (!take_(picture, note))
                continue;
            count(note);
            window_.present(picture);
        }
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> guard(lock_);
        stats_.failure = e.what();
    } catch (...) {
        std::lock_guard<std::mutex> guard(lock_);
        stats_.failure = "unexpected error";
    }
}

void PictureThread::count(const FrameNote& note) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(lock_);
    ++stats_.frames;
    if (note.numbered) {
        // A number not above the last one is a new run of the device: no gap to count.
        if (haveLast_ && note.sequence > last_)
            stats_.missed += note.sequence - last_ - 1;
        haveLast_ = true;
        last_ = note.sequence;
    }
    stats_.dropped = note.dropped;
    times_.push_back(now);
    while (times_.size() > 2 && now - times_.front() > std::chrono::seconds(1))
        times_.pop_front();
    const double span = std::chrono::duration<double>(times_.back() - times_.front()).count();
    stats_.fps = times_.size() > 1 && span > 0 ? (times_.size() - 1) / span : 0;
}
