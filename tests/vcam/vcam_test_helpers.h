#pragma once
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

// COM for the test's thread, as a host initialises it.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// The stamp the device writes at the start of every frame.
struct FrameStamp {
    uint32_t sequence = 0;
    uint32_t tag = 0;
    int64_t counter = 0;
};

inline FrameStamp readStamp(const BYTE* bytes) {
    FrameStamp stamp;
    std::memcpy(&stamp.sequence, bytes, 4);
    std::memcpy(&stamp.tag, bytes + 4, 4);
    std::memcpy(&stamp.counter, bytes + 8, 8);
    return stamp;
}

inline int64_t performanceCounter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Frames seen by a grabber callback, kept for the test's thread.
class FrameLog {
public:
    struct Frame {
        std::vector<BYTE> bytes;  // the whole frame when keepBytes, else the first 16 bytes
        long length = 0;
        double time = 0;
        int64_t arrival = 0;
    };

    explicit FrameLog(bool keepBytes = false) : keepBytes_(keepBytes) {}

    void add(const BYTE* data, long length, double time) {
        Frame frame;
        size_t kept = keepBytes_ ? static_cast<size_t>(length) : std::min<size_t>(16, static_cast<size_t>(length));
        frame.bytes.assign(data, data + kept);
        frame.length = length;
        frame.time = time;
        frame.arrival = performanceCounter();
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(std::move(frame));
        changed_.notify_all();
    }

    bool waitFor(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
    }

    std::vector<Frame> frames() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

    size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_.size();
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.clear();
    }

private:
    bool keepBytes_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Frame> frames_;
};

// VIDEOINFOHEADER or VIDEOINFOHEADER2's bitmap header of a media type, or null.
inline const BITMAPINFOHEADER* bitmapHeaderOf(const AM_MEDIA_TYPE& mt) {
    if (!mt.pbFormat)
        return nullptr;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    return nullptr;
}

inline REFERENCE_TIME frameIntervalOf(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->AvgTimePerFrame;
    return -1;
}

inline void freeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat)
        CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

inline void deleteMediaType(AM_MEDIA_TYPE* mt) {
    if (mt) {
        freeMediaType(*mt);
        CoTaskMemFree(mt);
    }
}
