// The DLL's boundary: camera operations (exported by ordinal) and the test controls.
// Each is one call into the model; no exception leaves the DLL.
#include "camera_controls.h"
#include "camera_model.h"

#include <cstdint>

using camera_sim::cameraModel;

namespace {

template <typename Call>
std::int32_t guarded(Call call) {
    try {
        return call();
    } catch (...) {
        return camera_sim::kInternalError;
    }
}

template <typename Call>
void guardedControl(Call call) {
    try {
        call();
    } catch (...) {
    }
}

}  // namespace

extern "C" {

std::int32_t camOpen(std::uint32_t* handle, void* window) {
    return guarded([&] { return cameraModel().open(handle, window); });
}
std::int32_t camClose(std::uint32_t handle) {
    return guarded([&] { return cameraModel().close(handle); });
}
std::int32_t camSetDisplayMode(std::uint32_t handle, int mode) {
    return guarded([&] { return cameraModel().setDisplayMode(handle, mode); });
}
std::int32_t camSetColourMode(std::uint32_t handle, int mode) {
    return guarded([&] { return cameraModel().setColourMode(handle, mode); });
}
std::int32_t camReadInfo(std::uint32_t handle, void* info) {
    return guarded([&] { return cameraModel().readInfo(handle, info); });
}
std::int32_t camAoiCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size) {
    return guarded([&] { return cameraModel().aoiCommand(handle, command, param, size); });
}
std::int32_t camAllocImageMemory(std::uint32_t handle, int width, int height, int bitsPerPixel, char** memory,
                                 int* id) {
    return guarded([&] { return cameraModel().allocateMemory(handle, width, height, bitsPerPixel, memory, id); });
}
std::int32_t camAddToSequence(std::uint32_t handle, char* memory, int id) {
    return guarded([&] { return cameraModel().addToSequence(handle, memory, id); });
}
std::int32_t camClearSequence(std::uint32_t handle) {
    return guarded([&] { return cameraModel().clearSequence(handle); });
}
std::int32_t camFreeImageMemory(std::uint32_t handle, char* memory, int id) {
    return guarded([&] { return cameraModel().freeMemory(handle, memory, id); });
}
std::int32_t camInitImageQueue(std::uint32_t handle, int mode) {
    return guarded([&] { return cameraModel().initImageQueue(handle, mode); });
}
std::int32_t camExitImageQueue(std::uint32_t handle) {
    return guarded([&] { return cameraModel().exitImageQueue(handle); });
}
std::int32_t camStartLive(std::uint32_t handle, int wait) {
    return guarded([&] { return cameraModel().startLive(handle, wait); });
}
std::int32_t camStopLive(std::uint32_t handle, int wait) {
    return guarded([&] { return cameraModel().stopLive(handle, wait); });
}
std::int32_t camWaitForNextImage(std::uint32_t handle, std::uint32_t timeoutMs, char** memory, int* imageId) {
    return guarded([&] { return cameraModel().waitForNextImage(handle, timeoutMs, memory, imageId); });
}
std::int32_t camCopyImageMemory(std::uint32_t handle, char* memory, int id, char* destination) {
    return guarded([&] { return cameraModel().copyMemory(handle, memory, id, destination); });
}
std::int32_t camUnlockSequenceBuffer(std::uint32_t handle, int id, char* memory) {
    return guarded([&] { return cameraModel().unlockBuffer(handle, id, memory); });
}
std::int32_t camCaptureStatusCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size) {
    return guarded([&] { return cameraModel().captureStatusCommand(handle, command, param, size); });
}
std::int32_t camLastError(std::uint32_t handle, std::int32_t* code, char** text) {
    return guarded([&] { return cameraModel().lastError(handle, code, text); });
}
std::int32_t camPixelClockCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size) {
    return guarded([&] { return cameraModel().pixelClockCommand(handle, command, param, size); });
}
std::int32_t camSetFrameRate(std::uint32_t handle, double fps, double* actual) {
    return guarded([&] { return cameraModel().setFrameRate(handle, fps, actual); });
}
std::int32_t camFrameTimeRange(std::uint32_t handle, double* min, double* max, double* step) {
    return guarded([&] { return cameraModel().frameTimeRange(handle, min, max, step); });
}
std::int32_t camExposureCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size) {
    return guarded([&] { return cameraModel().exposureCommand(handle, command, param, size); });
}
std::int32_t camGammaCommand(std::uint32_t handle, std::uint32_t command, void* param, std::uint32_t size) {
    return guarded([&] { return cameraModel().gammaCommand(handle, command, param, size); });
}
std::int32_t camHardwareGain(std::uint32_t handle, int master, int red, int green, int blue) {
    return guarded([&] { return cameraModel().hardwareGain(handle, master, red, green, blue); });
}

void simReset(void) {
    guardedControl([] { cameraModel().reset(); });
}
void simSetCameraPresent(int present) {
    guardedControl([&] { cameraModel().setCameraPresent(present != 0); });
}
void simForceStatus(int ordinal, int status, int calls) {
    guardedControl([&] { cameraModel().forceStatus(ordinal, status, calls); });
}
void simSetOption(const char* name, double value) {
    guardedControl([&] { cameraModel().setOption(name, value); });
}
int simCallLog(char* buffer, int size) {
    int length = 0;
    guardedControl([&] { length = cameraModel().copyCallLog(buffer, size); });
    return length;
}
void simClearLog(void) {
    guardedControl([] { cameraModel().clearCallLog(); });
}
void simGetStats(long long* framesProduced, long long* framesDropped, int* liveMemories) {
    guardedControl([&] { cameraModel().stats(framesProduced, framesDropped, liveMemories); });
}

}  // extern "C"
