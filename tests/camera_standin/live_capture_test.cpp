// Live capture as a host lives it: pacing, frame order, locked memories, drops, timeouts and
// what the frames show.
#include "open_camera_fixture.h"

#include <chrono>
#include <set>
#include <thread>
#include <vector>

using namespace camera_ops;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Frame {
    std::int32_t status = -1;
    char* memory = nullptr;
    int id = 0;
};

Frame waitForImage(Handle handle, std::uint32_t timeoutMs) {
    Frame frame;
    frame.status = ops().waitForImage(handle, timeoutMs, &frame.memory, &frame.id);
    return frame;
}

}  // namespace

TEST_F(OpenCamera, FramesArriveAtTheSetRateWithTheCounterCountingUp) {
    ASSERT_EQ(setAoi(handle, Aoi{0, 0, 640, 480}), 0);
    double fps = 0;
    ASSERT_EQ(ops().setFrameRate(handle, 40, &fps), 0);
    Memories memories;
    ASSERT_EQ(memories.allocate(handle, 640, 480), 0);
    std::vector<char> copy(640 * 480);

    const int kFrames = 16;
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(ops().startLive(handle, 0), 0);
    double firstAt = 0;
    for (int i = 0; i < kFrames; ++i) {
        const Frame frame = waitForImage(handle, 1000);
        ASSERT_EQ(frame.status, 0) << "frame " << i;
        if (i == 0)
            firstAt = secondsSince(start);
        const int which = memories.indexOf(frame.memory);
        ASSERT_GE(which, 0) << "a memory of the sequence";
        EXPECT_EQ(frame.id, memories.id[which]);
        EXPECT_EQ(which, i % 2) << "the sequence is filled in turn";
        ASSERT_EQ(ops().copy(handle, frame.memory, frame.id, copy.data()), 0);
        EXPECT_EQ(frameCounter(copy.data()), static_cast<std::uint32_t>(i)) << "no frame lost while keeping up";
        ASSERT_EQ(ops().unlock(handle, -1, frame.memory), 0);
    }
    const double lastAt = secondsSince(start);
    const double period = 1 / fps;

    EXPECT_GE(firstAt, period * 0.9) << "the first frame takes one period";
    EXPECT_GE(lastAt, kFrames * period * 0.95);
    EXPECT_LE(lastAt, kFrames * period * 1.5 + 0.1) << "the wait does not oversleep";

    long long produced = -1, dropped = -1;
    simGetStats(&produced, &dropped, nullptr);
    EXPECT_GE(produced, kFrames);
    EXPECT_EQ(dropped, 0);

    // A new start counts from 0 again.
    ASSERT_EQ(ops().stopLive(handle, 1), 0);
    ASSERT_EQ(ops().startLive(handle, 0), 0);
    const Frame again = waitForImage(handle, 1000);
    ASSERT_EQ(again.status, 0);
    EXPECT_EQ(frameCounter(again.memory), 0u);
}

TEST_F(OpenCamera, ALockedMemoryIsNotRefilledAndDroppedFramesLeaveAGap) {
    ASSERT_EQ(setAoi(handle, Aoi{0, 0, 320, 240}), 0);
    double fps = 0;
    ASSERT_EQ(ops().setFrameRate(handle, 50, &fps), 0);
    Memories memories;
    ASSERT_EQ(memories.allocate(handle, 320, 240), 0);
    ASSERT_EQ(ops().startLive(handle, 0), 0);

    const Frame held = waitForImage(handle, 1000);
    ASSERT_EQ(held.status, 0);
    ASSERT_EQ(frameCounter(held.memory), 0u);

    // Ten periods with one memory locked and the other filled and never taken.
    std::this_thread::sleep_for(std::chrono::duration<double>(10 / fps));

    const Frame queued = waitForImage(handle, 1000);
    ASSERT_EQ(queued.status, 0);
    EXPECT_NE(queued.memory, held.memory) << "the locked memory is never handed out again";
    EXPECT_EQ(frameCounter(queued.memory), 1u) << "the queue hands out its oldest frame";
    ASSERT_EQ(ops().unlock(handle, -1, queued.memory), 0);

    const Frame next = waitForImage(handle, 1000);
    ASSERT_EQ(next.status, 0);
    EXPECT_EQ(next.memory, queued.memory);
    EXPECT_GE(frameCounter(next.memory), 10u) << "the counter still counted the dropped frames";
    EXPECT_EQ(frameCounter(held.memory), 0u) << "the locked memory kept its frame";

    // Both memories are locked now, so nothing more can be produced while we look.
    long long produced = 0, dropped = 0;
    simGetStats(&produced, &dropped, nullptr);
    EXPECT_EQ(produced, 3);
    EXPECT_GE(dropped, static_cast<long long>(frameCounter(next.memory)) - 2);

    // Unlocked again, it is back in turn.
    ASSERT_EQ(ops().unlock(handle, -1, next.memory), 0);
    ASSERT_EQ(ops().unlock(handle, memories.id[memories.indexOf(held.memory)], held.memory), 0);
    std::set<char*> seen;
    for (int i = 0; i < 4; ++i) {
        const Frame frame = waitForImage(handle, 1000);
        ASSERT_EQ(frame.status, 0);
        seen.insert(frame.memory);
        ASSERT_EQ(ops().unlock(handle, -1, frame.memory), 0);
    }
    EXPECT_EQ(seen.count(held.memory), 1u);
}

TEST_F(OpenCamera, WaitingFailsAtOnceWithoutQueueAndTimesOutWhenStopped) {
    ASSERT_EQ(setAoi(handle, Aoi{0, 0, 320, 240}), 0);
    Clock::time_point start = Clock::now();
    Frame frame = waitForImage(handle, 1000);
    EXPECT_NE(frame.status, 0);
    EXPECT_NE(frame.status, 3);
    EXPECT_LT(secondsSince(start), 0.2) << "no image queue: no waiting";

    Memories memories;
    ASSERT_EQ(memories.allocate(handle, 320, 240), 0);
    start = Clock::now();
    frame = waitForImage(handle, 300);
    const double waited = secondsSince(start);
    EXPECT_NE(frame.status, 0);
    EXPECT_NE(frame.status, 3) << "a timeout is not the capture-status error";
    EXPECT_GE(waited, 0.3);
    EXPECT_LT(waited, 0.6);
    const std::int32_t timedOut = frame.status;
    EXPECT_EQ(lastError(handle).code, timedOut);

    // Stopped after a frame: what was queued goes, and the next wait times out the same way.
    ASSERT_EQ(ops().startLive(handle, 0), 0);
    frame = waitForImage(handle, 1000);
    ASSERT_EQ(frame.status, 0);
    ASSERT_EQ(ops().unlock(handle, -1, frame.memory), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(ops().stopLive(handle, 1), 0);
    start = Clock::now();
    frame = waitForImage(handle, 200);
    EXPECT_EQ(frame.status, timedOut);
    EXPECT_GE(secondsSince(start), 0.2);

    // Live with every memory locked: nothing can arrive.
    ASSERT_EQ(ops().startLive(handle, 0), 0);
    ASSERT_EQ(waitForImage(handle, 1000).status, 0);
    ASSERT_EQ(waitForImage(handle, 1000).status, 0);
    EXPECT_EQ(waitForImage(handle, 250).status, timedOut);
}

TEST_F(OpenCamera, CropsOfTwoAoisAreTheSamePictureAndUnpacedFramesComeAtOnce) {
    simSetOption("unpaced", 1);

    auto capture = [&](const Aoi& aoi) {
        EXPECT_EQ(setAoi(handle, aoi), 0);
        Memories memories;
        EXPECT_EQ(memories.allocate(handle, aoi.width, aoi.height), 0);
        EXPECT_EQ(ops().startLive(handle, 0), 0);
        Frame frame = waitForImage(handle, 1000);
        std::vector<unsigned char> image(static_cast<std::size_t>(aoi.width) * aoi.height);
        EXPECT_EQ(frame.status, 0);
        if (frame.status == 0) {
            EXPECT_EQ(ops().copy(handle, frame.memory, frame.id, reinterpret_cast<char*>(image.data())), 0);
        }
        ops().unlock(handle, -1, frame.memory);
        ops().stopLive(handle, 1);
        memories.release(handle);
        return image;
    };

    const std::vector<unsigned char> full = capture(Aoi{0, 0, 1280, 1024});
    const std::set<unsigned char> greys(full.begin() + 4, full.end());
    EXPECT_GT(greys.size(), 64u) << "a picture, not a flat field";

    const Aoi crops[] = {{640, 512, 320, 240}, {96, 50, 200, 100}};
    std::vector<std::vector<unsigned char>> images;
    for (const Aoi& aoi : crops) {
        const std::vector<unsigned char> crop = capture(aoi);
        int mismatches = 0;
        for (int row = 0; row < aoi.height; ++row)
            for (int column = 0; column < aoi.width; ++column) {
                if (row == 0 && column < 4)
                    continue;   // the frame counter
                const unsigned char expected = full[static_cast<std::size_t>(aoi.y + row) * 1280 + aoi.x + column];
                if (crop[static_cast<std::size_t>(row) * aoi.width + column] != expected)
                    ++mismatches;
            }
        EXPECT_EQ(mismatches, 0) << "crop at " << aoi.x << "," << aoi.y;
        images.push_back(crop);
    }
    // Different places show different things: compare a 100 x 50 block below each crop's counter.
    auto block = [](const std::vector<unsigned char>& image, int width) {
        std::vector<unsigned char> pixels;
        for (int row = 1; row <= 50; ++row)
            pixels.insert(pixels.end(), image.begin() + row * width, image.begin() + row * width + 100);
        return pixels;
    };
    EXPECT_NE(block(images[0], crops[0].width), block(images[1], crops[1].width));

    // Unpaced: a full-sensor frame per call without waiting for a frame period.
    ASSERT_EQ(setAoi(handle, Aoi{0, 0, 1280, 1024}), 0);
    Memories memories;
    ASSERT_EQ(memories.allocate(handle, 1280, 1024), 0);
    ASSERT_EQ(ops().startLive(handle, 0), 0);
    const int kFrames = 200;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        const Frame frame = waitForImage(handle, 1000);
        ASSERT_EQ(frame.status, 0);
        ASSERT_EQ(frameCounter(frame.memory), static_cast<std::uint32_t>(i));
        ASSERT_EQ(ops().unlock(handle, -1, frame.memory), 0);
    }
    EXPECT_LT(secondsSince(start), kFrames / currentFps(handle) / 2) << "faster than the paced rate";
}
