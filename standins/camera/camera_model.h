// The simulated camera as the host sees it: one monochrome 1280 x 1024 camera behind handle 1,
// its parameters and rules, plus what the test controls configure and record.
// One process-wide instance; every call runs under its mutex.
#pragma once

#include "call_log.h"
#include "camera_status.h"
#include "live_capture.h"
#include "scene.h"
#include "sensor_timing.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace camera_sim {

struct Options {
    int pixelClockCount = -1;   // negative: the default list
    bool fineExposure = true;
    bool unpaced = false;
    int cameraId = 1;
    bool log = true;
};

struct LastError {
    std::int32_t code = kOk;
    std::string text = "no error";
};

struct ForcedStatus {
    std::int32_t status;
    int callsLeft;   // -1: every call
};

struct OpenCamera {
    explicit OpenCamera(CaptureStats& stats) : capture(stats) {}

    AoiRect aoi;
    int displayMode = 1;
    int colourMode = 6;
    int pixelClockMHz = 43;
    std::int64_t frameLines = 0;
    double exposureMs = 0.0;
    int gamma = 100;
    int masterGain = 0;
    int channelGains[3] = {0, 0, 0};
    LiveCapture capture;

    SensorTiming timing() const { return SensorTiming{pixelClockMHz, aoi.height}; }
};

class CameraModel {
public:
    CameraModel();

    // Test controls.
    void reset();
    void setCameraPresent(bool present);
    void forceStatus(int ordinal, int status, int calls);
    void setOption(const char* name, double value);
    int copyCallLog(char* buffer, int size);
    void clearCallLog();
    void stats(long long* framesProduced, long long* framesDropped, int* liveMemories);

    // Camera operations, by ordinal.
    std::int32_t open(std::uint32_t* handle, void* window);                                           // 237
    std::int32_t close(std::uint32_t handle);                                                           // 239
    std::int32_t setDisplayMode(std::uint32_t handle, int mode);                                        // 12
    std::int32_t setColourMode(std::uint32_t handle, int mode);                                         // 17
    std::int32_t readInfo(std::uint32_t handle, void* info);                                            // 241
    std::int32_t aoiCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size);  // 486
    std::int32_t allocateMemory(std::uint32_t handle, int width, int height, int bitsPerPixel, char** memory,
                                int* id);                                                                // 36
    std::int32_t addToSequence(std::uint32_t handle, char* memory, int id);                             // 68
    std::int32_t clearSequence(std::uint32_t handle);                                                   // 69
    std::int32_t freeMemory(std::uint32_t handle, char* memory, int id);                                // 38
    std::int32_t initImageQueue(std::uint32_t handle, int mode);                                        // 395
    std::int32_t exitImageQueue(std::uint32_t handle);                                                  // 429
    std::int32_t startLive(std::uint32_t handle, int wait);                                             // 5
    std::int32_t stopLive(std::uint32_t handle, int wait);                                              // 3
    std::int32_t waitForNextImage(std::uint32_t handle, std::uint32_t timeoutMs, char** memory, int* imageId);  // 393
    std::int32_t copyMemory(std::uint32_t handle, char* memory, int id, char* destination);             // 85
    std::int32_t unlockBuffer(std::uint32_t handle, int id, char* memory);                              // 72
    std::int32_t captureStatusCommand(std::uint32_t handle, std::uint32_t command, void* param,
                                      std::uint32_t size);                                               // 500
    std::int32_t lastError(std::uint32_t handle, std::int32_t* code, char** text);                      // 23
    std::int32_t pixelClockCommand(std::uint32_t handle, std::uint32_t command, void* param,
                                   std::uint32_t size);                                                  // 514
    std::int32_t setFrameRate(std::uint32_t handle, double fps, double* actual);                       // 231
    std::int32_t frameTimeRange(std::uint32_t handle, double* min, double* max, double* step);          // 271
    std::int32_t exposureCommand(std::uint32_t handle, std::uint32_t command, void* param,
                                 std::uint32_t size);                                                    // 496
    std::int32_t gammaCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size);  // 530
    std::int32_t hardwareGain(std::uint32_t handle, int master, int red, int green, int blue);          // 215

private:
    // Every operation begins here: records the call, applies a forced status, checks the handle
    // and brings live capture up to now. False: the call ends with `status`.
    bool admit(const LogLine& line, int ordinal, std::uint32_t handle, std::int32_t& status);
    void record(const LogLine& line);
    // Uses up one forced call of that ordinal, if any is pending.
    bool takeForcedStatus(int ordinal, std::int32_t& status);
    bool validHandle(std::uint32_t handle) const;
    std::int32_t refuse(std::uint32_t handle, const Outcome& outcome);
    std::int32_t refuse(std::uint32_t handle, std::int32_t status, std::string reason);
    std::string memoryName(const char* memory) const;

    // After the pixel clock or the AOI changed: the same rate where it still fits, then exposure.
    void retime(const SensorTiming& before);
    void fitExposure();
    ExposureRange exposureRange() const;

    std::mutex mutex_;
    Options options_;
    bool present_ = true;
    std::map<int, ForcedStatus> forced_;
    CallLog log_;
    CaptureStats stats_;
    int nextMemoryId_ = 1;
    std::unique_ptr<OpenCamera> camera_;

    // The error of the open camera, and the one for calls that had no valid handle. The texts
    // handed out stay in these arrays, so a host's pointer never dangles.
    LastError cameraError_;
    LastError handlelessError_;
    char cameraErrorText_[256] = {};
    char handlelessErrorText_[256] = {};
};

CameraModel& cameraModel();

}  // namespace camera_sim
