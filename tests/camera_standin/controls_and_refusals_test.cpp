// What the test controls promise (call log, forced statuses, options, statistics), how the
// camera opens and closes, and that every refusal leaves a last error behind.
#include "open_camera_fixture.h"

#include <cmath>
#include <functional>
#include <vector>

using namespace camera_ops;

TEST_F(OpenCamera, CallLogWritesEachCallsArgumentsInOrder) {
    simClearLog();
    ops().setDisplayMode(handle, 1);
    ops().setColourMode(handle, 6);
    unsigned char info[64] = {};
    ops().readInfo(handle, info);
    setAoi(handle, Aoi{0, 0, 640, 480});
    Aoi aoi{};
    ops().aoi(handle, 2, &aoi, sizeof aoi);
    std::int32_t pair[2];
    ops().aoi(handle, 8, pair, sizeof pair);
    Memories memories;
    ops().allocate(handle, 640, 480, 8, &memories.memory[0], &memories.id[0]);
    ops().addToSequence(handle, memories.memory[0], memories.id[0]);
    ops().initQueue(handle, 0);
    ops().startLive(handle, 0);
    char* memory = nullptr;
    int id = 0;
    ops().waitForImage(handle, 1000, &memory, &id);
    std::vector<char> copy(640 * 480);
    ops().copy(handle, memory, id, copy.data());
    ops().unlock(handle, -1, memory);
    ops().captureStatus(handle, 1, nullptr, 0);
    ops().stopLive(handle, 1);
    std::int32_t clock = 30;
    ops().pixelClock(handle, 6, &clock, sizeof clock);
    std::uint32_t count = 0;
    ops().pixelClock(handle, 1, &count, sizeof count);
    double fps = 0;
    ops().setFrameRate(handle, 32768.0, &fps);
    ops().setFrameRate(handle, 25, &fps);
    double minPeriod, maxPeriod, step;
    ops().frameTimeRange(handle, &minPeriod, &maxPeriod, &step);
    double exposure = 10.5;
    ops().exposure(handle, 12, &exposure, sizeof exposure);
    ops().exposure(handle, 7, &exposure, sizeof exposure);
    std::int32_t gamma = 120;
    ops().gamma(handle, 1, &gamma, sizeof gamma);
    ops().gain(handle, 0x8000, -1, -1, -1);
    std::int32_t code;
    char* text;
    ops().lastError(handle, &code, &text);
    ops().exitQueue(handle);
    ops().clearSequence(handle);
    ops().freeMemory(handle, memories.memory[0], memories.id[0]);
    ops().freeMemory(handle, memories.memory[0], memories.id[0]);
    ops().addToSequence(handle, nullptr, 0);
    ops().close(handle);
    Handle next = 0;
    ops().open(&next, nullptr);

    EXPECT_EQ(callLog(),
              "12 1\n"
              "17 6\n"
              "241\n"
              "486 1 16 0 0 640 480\n"
              "486 2 16\n"
              "486 8 8\n"
              "36 640 480 8\n"
              "68 m1 1\n"
              "395 0\n"
              "5 0\n"
              "393 1000\n"
              "85 m1 1\n"
              "72 -1 m1\n"
              "500 1 null 0\n"
              "3 1\n"
              "514 6 4 30\n"
              "514 1 4\n"
              "231 32768\n"
              "231 25\n"
              "271\n"
              "496 12 8 10.5\n"
              "496 7 8\n"
              "530 1 4 120\n"
              "215 32768 -1 -1 -1\n"
              "23\n"
              "429\n"
              "69\n"
              "38 m1 1\n"
              "38 m? 1\n"
              "68 null 0\n"
              "239\n"
              "237 0 null\n");

    // Cut to size, NUL-terminated, and the full length still reported.
    char shortBuffer[8];
    const int length = simCallLog(shortBuffer, sizeof shortBuffer);
    EXPECT_EQ(length, static_cast<int>(callLog().size()));
    EXPECT_STREQ(shortBuffer, "12 1\n17");

    // Switched off, nothing is recorded; and the log keeps only its newest 100000 lines.
    simClearLog();
    simSetOption("log", 0);
    ops().clearSequence(1);
    EXPECT_EQ(simCallLog(nullptr, 0), 0);
    simSetOption("log", 1);
    for (int i = 0; i < 100005; ++i)
        ops().clearSequence(1);
    EXPECT_EQ(simCallLog(nullptr, 0), 100000 * 3);
}

TEST_F(OpenCamera, ForcedStatusesOptionsAndOpenRules) {
    // Forced for two calls, then the camera answers for itself again; nothing was done meanwhile.
    simForceStatus(530, 9, 2);
    std::int32_t gamma = 150;
    EXPECT_EQ(ops().gamma(handle, 1, &gamma, sizeof gamma), 9);
    const LastError forced = lastError(handle);
    EXPECT_EQ(forced.code, 9);
    EXPECT_EQ(forced.text, "forced status");
    EXPECT_EQ(ops().gamma(handle, 1, &gamma, sizeof gamma), 9);
    gamma = 0;
    ops().gamma(handle, 2, &gamma, sizeof gamma);
    EXPECT_EQ(gamma, 100) << "forced calls change nothing";
    gamma = 150;
    EXPECT_EQ(ops().gamma(handle, 1, &gamma, sizeof gamma), 0);

    // -1 forces until cleared with 0; the capture-status error only ever comes this way.
    simForceStatus(393, 3, -1);
    char* memory = nullptr;
    int id = 0;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ops().waitForImage(handle, 1000, &memory, &id), 3);
    EXPECT_EQ(ops().captureStatus(handle, 1, nullptr, 0), 0);
    simForceStatus(393, 0, 0);
    EXPECT_EQ(ops().waitForImage(handle, 0, &memory, &id), 10) << "no queue yet";

    // The query of the master gain returns a forced status as its value.
    simForceStatus(215, -1, 1);
    EXPECT_EQ(ops().gain(handle, 0x8000, -1, -1, -1), -1);

    simSetOption("cameraId", 42);
    unsigned char info[64];
    std::memset(info, 0xEE, sizeof info);
    ASSERT_EQ(ops().readInfo(handle, info), 0);
    EXPECT_EQ(info[54], 42);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info), 10), "4103527891");
    EXPECT_EQ(info[10], 0);
    EXPECT_EQ(info[11], 0);

    // One camera: a second open fails while it is open, and so does any open with none attached.
    Handle second = 0;
    EXPECT_NE(ops().open(&second, nullptr), 0);
    EXPECT_EQ(second, 0u);
    ASSERT_EQ(ops().close(handle), 0);
    simSetCameraPresent(0);
    EXPECT_NE(ops().open(&second, nullptr), 0);
    EXPECT_NE(lastError(0).text.find("no camera"), std::string::npos) << lastError(0).text;
    simSetCameraPresent(1);
    ASSERT_EQ(ops().open(&second, nullptr), 0);
    EXPECT_EQ(second, handle);

    // Reset: defaults again, the open camera closed, ids from 1.
    simForceStatus(12, 5, -1);
    simReset();
    EXPECT_NE(ops().setDisplayMode(second, 1), 0) << "closed by the reset";
    Handle reopened = 0;
    ASSERT_EQ(ops().open(&reopened, nullptr), 0);
    EXPECT_EQ(ops().setDisplayMode(reopened, 1), 0) << "forced statuses cleared";
    ASSERT_EQ(ops().readInfo(reopened, info), 0);
    EXPECT_EQ(info[54], 1);
    char* image = nullptr;
    int imageId = 0;
    ASSERT_EQ(ops().allocate(reopened, 64, 8, 8, &image, &imageId), 0);
    EXPECT_EQ(imageId, 1);
}

TEST_F(OpenCamera, MemoriesHaveRisingIdsAndCloseReleasesWhatTheHostLeft) {
    Memories first;
    ASSERT_EQ(first.allocate(handle, 640, 480), 0);
    EXPECT_EQ(first.id[0], 1);
    EXPECT_EQ(first.id[1], 2);
    char* extra = nullptr;
    int extraId = 0;
    ASSERT_EQ(ops().allocate(handle, 64, 4, 16, &extra, &extraId), 0);
    EXPECT_EQ(extraId, 3);
    int live = -1;
    simGetStats(nullptr, nullptr, &live);
    EXPECT_EQ(live, 3);

    // A copy is the whole memory, pitch times height.
    std::vector<char> copy(64 * 2 * 4 + 1, 'x');
    std::memset(extra, 'a', 64 * 2 * 4);
    ASSERT_EQ(ops().copy(handle, extra, extraId, copy.data()), 0);
    EXPECT_EQ(copy[64 * 2 * 4 - 1], 'a');
    EXPECT_EQ(copy[64 * 2 * 4], 'x');

    // Memories in the sequence stay until it is cleared; a wrong id is not the memory.
    EXPECT_NE(ops().freeMemory(handle, first.memory[0], first.id[0]), 0);
    EXPECT_NE(ops().freeMemory(handle, extra, first.id[0]), 0);
    EXPECT_NE(ops().copy(handle, extra, first.id[0], copy.data()), 0);
    ASSERT_EQ(ops().freeMemory(handle, extra, extraId), 0);
    first.release(handle);
    simGetStats(nullptr, nullptr, &live);
    EXPECT_EQ(live, 0);

    Memories second;
    ASSERT_EQ(second.allocate(handle, 320, 240), 0);
    EXPECT_EQ(second.id[0], 4);
    ASSERT_EQ(ops().startLive(handle, 0), 0);
    ASSERT_EQ(ops().close(handle), 0);
    simGetStats(nullptr, nullptr, &live);
    EXPECT_EQ(live, 0) << "close frees what the host left allocated";
    EXPECT_NE(ops().freeMemory(handle, second.memory[0], second.id[0]), 0);
}

TEST_F(OpenCamera, EveryRefusalSetsTheLastErrorAndNothingCrashes) {
    char stackBytes[64] = {};
    char* memory = nullptr;
    int id = 0;
    double value = 0;
    Memories memories;

    struct Refusal {
        const char* what;
        std::function<std::int32_t()> call;
    };
    const std::vector<Refusal> refusals = {
        {"display mode", [&] { return ops().setDisplayMode(handle, 2); }},
        {"colour mode", [&] { return ops().setColourMode(handle, 0); }},
        {"null information record", [&] { return ops().readInfo(handle, nullptr); }},
        {"zero-sized memory", [&] { return ops().allocate(handle, 0, 480, 8, &memory, &id); }},
        {"odd bits per pixel", [&] { return ops().allocate(handle, 640, 480, 7, &memory, &id); }},
        {"memory larger than the sensor", [&] { return ops().allocate(handle, 4096, 4096, 8, &memory, &id); }},
        {"null memory id", [&] { return ops().allocate(handle, 640, 480, 8, &memory, nullptr); }},
        {"unknown memory in the sequence", [&] { return ops().addToSequence(handle, stackBytes, 1); }},
        {"unknown memory freed", [&] { return ops().freeMemory(handle, stackBytes, 1); }},
        {"unknown memory copied", [&] { return ops().copy(handle, stackBytes, 1, stackBytes); }},
        {"unknown memory unlocked", [&] { return ops().unlock(handle, -1, stackBytes); }},
        {"queue mode", [&] { return ops().initQueue(handle, 7); }},
        {"start with an empty sequence", [&] { return ops().startLive(handle, 0); }},
        {"wait without queue", [&] { return ops().waitForImage(handle, 10, &memory, &id); }},
        {"wait with null outputs", [&] { return ops().waitForImage(handle, 10, nullptr, nullptr); }},
        {"capture-status command", [&] { return ops().captureStatus(handle, 2, nullptr, 0); }},
        {"null frame rate output", [&] { return ops().setFrameRate(handle, 10, nullptr); }},
        {"null frame-time range", [&] { return ops().frameTimeRange(handle, &value, nullptr, &value); }},
        {"unknown exposure command", [&] { return ops().exposure(handle, 99, &value, sizeof value); }},
        {"short exposure range", [&] { return ops().exposure(handle, 6, &value, sizeof value); }},
        {"null pixel-clock parameter", [&] { return ops().pixelClock(handle, 5, nullptr, 4); }},
        {"gamma get too short", [&] { return ops().gamma(handle, 2, &value, 2); }},
        {"gain out of range", [&] { return ops().gain(handle, 300, -1, -1, -1); }},
        {"double open", [&] { Handle other = 0; return ops().open(&other, nullptr); }},
        {"copy to null", [&] {
             memories.allocate(handle, 64, 4);
             return ops().copy(handle, memories.memory[0], memories.id[0], nullptr);
         }},
        {"free from the sequence", [&] { return ops().freeMemory(handle, memories.memory[1], memories.id[1]); }},
    };

    for (const Refusal& refusal : refusals) {
        // A known error in both places first, so a refusal that set none would show.
        ops().gain(handle, 999, -1, -1, -1);
        ops().setDisplayMode(7, 1);
        const std::string marker = lastError(handle).text;

        const std::int32_t status = refusal.call();
        EXPECT_NE(status, 0) << refusal.what;
        EXPECT_NE(status, 3) << refusal.what;
        // Refusals on the open camera go to its last error, the failed open to the handle-less one.
        const bool handleless = std::string(refusal.what) == "double open";
        const LastError error = lastError(handleless ? 0 : handle);
        EXPECT_EQ(error.code, status) << refusal.what;
        EXPECT_FALSE(error.text.empty()) << refusal.what;
        if (handleless)
            EXPECT_NE(error.text.find("already open"), std::string::npos) << error.text;
        else
            EXPECT_NE(error.text, marker) << refusal.what;
    }

    // A wrong or closed handle is refused everywhere; its last error still says something.
    EXPECT_NE(ops().setDisplayMode(7, 1), 0);
    std::int32_t code = 0;
    char* text = nullptr;
    EXPECT_NE(ops().lastError(7, &code, &text), 0);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::string(text).find("handle 7"), std::string::npos) << text;
    EXPECT_NE(code, 0);
    EXPECT_NE(ops().lastError(handle, nullptr, nullptr), 0);
    ASSERT_EQ(ops().close(handle), 0);
    EXPECT_NE(ops().close(handle), 0);
    EXPECT_NE(ops().gain(handle, 0x8000, -1, -1, -1), 0);
    EXPECT_NE(ops().setFrameRate(handle, 32768.0, &value), 0);
    EXPECT_NE(ops().open(nullptr, nullptr), 0);
}
