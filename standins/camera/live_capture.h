// The camera's image memories, its capture sequence, the image queue and live capture.
//
// No thread runs the sensor: whoever calls in first accounts for every frame that fell due
// since the last call. A due frame goes into the next memory of the sequence that is neither
// queued (filled, not taken yet) nor locked (taken, not unlocked yet); with none free, or with
// no image queue, the frame is dropped, though the frame counter still counts it.
#pragma once

#include "camera_status.h"
#include "scene.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace camera_sim {

struct ImageMemory {
    enum class State { Free, Queued, Locked };

    int id = 0;
    std::unique_ptr<char[]> bytes;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int pitch = 0;
    bool inSequence = false;
    State state = State::Free;

    std::size_t size() const { return static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height); }
};

struct CaptureStats {
    long long framesProduced = 0;
    long long framesDropped = 0;
};

class LiveCapture {
public:
    explicit LiveCapture(CaptureStats& stats) : stats_(stats) {}

    Outcome allocate(int width, int height, int bitsPerPixel, int id, char** memory);
    Outcome release(const char* memory, int id);
    Outcome addToSequence(const char* memory, int id);
    void clearSequence();
    Outcome initQueue(int mode);
    void exitQueue();

    Outcome start(std::int64_t nowNs, std::int64_t frameNs);
    void stop();
    bool live() const { return live_; }
    bool queueInitialised() const { return queueInitialised_; }

    // Fills and drops every frame due up to now.
    void accountDueFrames(std::int64_t nowNs, const AoiRect& aoi);
    // A new frame period while live: the next frame comes one new period after the last one.
    void changeFramePeriod(std::int64_t nowNs, std::int64_t frameNs);
    // Unpaced capture: one frame now, if a memory is free (else it is dropped).
    void produceFrameNow(const AoiRect& aoi);
    // Leaving unpaced capture: frames are due from now on.
    void restartPacing(std::int64_t nowNs);

    // The oldest queued memory, now locked; null when the queue is empty.
    ImageMemory* takeOldest();
    std::int64_t nextFrameDueNs() const { return nextDueNs_; }

    Outcome copy(const char* memory, int id, char* destination) const;
    Outcome unlock(int id, const char* memory);

    // The memory at that address, or null: addresses are compared, never read.
    const ImageMemory* find(const char* memory) const;
    int liveMemories() const { return static_cast<int>(memories_.size()); }

private:
    ImageMemory* findExact(const char* memory, int id, Outcome& failure);
    ImageMemory* nextFreeInSequence();
    void fill(ImageMemory& memory, const AoiRect& aoi);
    void flushQueue();

    CaptureStats& stats_;
    std::vector<std::unique_ptr<ImageMemory>> memories_;
    std::vector<ImageMemory*> sequence_;
    std::size_t nextToFill_ = 0;   // where in the sequence the search for a free memory begins
    std::deque<ImageMemory*> queue_;
    bool queueInitialised_ = false;

    bool live_ = false;
    std::uint32_t frameCounter_ = 0;
    std::int64_t nextDueNs_ = 0;
    std::int64_t frameNs_ = 0;
};

}  // namespace camera_sim
