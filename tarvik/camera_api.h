// The operations of the vendor's camera API (uEye_api_64.dll) that tarvik uses.
// They are imported by ordinal only (see uEye_api_64.def); these names are ours.
#pragma once

#include <cstdint>

using CameraHandle = std::uint32_t;

namespace camera_api {

constexpr std::int32_t kSuccess = 0;
constexpr std::int32_t kCaptureStatusError = 3;

constexpr std::int32_t kDisplayModeBitmap = 1;
constexpr std::int32_t kColorModeMono8 = 6;
constexpr std::size_t kCameraInfoSize = 64;
constexpr std::size_t kCameraInfoIdOffset = 54;
constexpr std::size_t kSerialTextSize = 12;

enum AoiCommand : std::uint32_t {
    kAoiSet = 1,
    kAoiGet = 2,
    kAoiMinimumSize = 8,
    kAoiMaximumSize = 16,
    kAoiSizeIncrement = 18,
};

enum PixelClockCommand : std::uint32_t {
    kPixelClockCount = 1,
    kPixelClockList = 2,
    kPixelClockCurrent = 5,
    kPixelClockSet = 6,
};

enum ExposureCommand : std::uint32_t {
    kExposureCapabilities = 1,
    kExposureRange = 6,
    kExposureCurrent = 7,
    kExposureFineRange = 11,
    kExposureSet = 12,
};
constexpr std::uint32_t kExposureFineIncrementSupported = 2;

constexpr std::uint32_t kGammaSet = 1;
constexpr std::uint32_t kCaptureStatusReset = 1;
constexpr std::int32_t kGainQueryMaster = 0x8000;
constexpr std::int32_t kIgnoreParameter = -1;
constexpr double kFrameRateQuery = 32768.0;
constexpr std::uint32_t kWaitTimeoutMs = 1000;

} // namespace camera_api

extern "C" {
__declspec(dllimport) std::int32_t cameraOpen(CameraHandle* handle, void* window);
__declspec(dllimport) std::int32_t cameraSetDisplayMode(CameraHandle handle, std::int32_t mode);
__declspec(dllimport) std::int32_t cameraSetColorMode(CameraHandle handle, std::int32_t mode);
__declspec(dllimport) std::int32_t cameraReadInfo(CameraHandle handle, void* info);
__declspec(dllimport) std::int32_t cameraAoi(CameraHandle handle, std::uint32_t command, void* param, std::uint32_t size);
__declspec(dllimport) std::int32_t cameraAllocImageMemory(CameraHandle handle, std::int32_t width, std::int32_t height,
                                                          std::int32_t bitsPerPixel, char** memory, std::int32_t* memoryId);
__declspec(dllimport) std::int32_t cameraAddToSequence(CameraHandle handle, char* memory, std::int32_t memoryId);
__declspec(dllimport) std::int32_t cameraClearSequence(CameraHandle handle);
__declspec(dllimport) std::int32_t cameraFreeImageMemory(CameraHandle handle, char* memory, std::int32_t memoryId);
__declspec(dllimport) std::int32_t cameraInitImageQueue(CameraHandle handle, std::int32_t mode);
__declspec(dllimport) std::int32_t cameraExitImageQueue(CameraHandle handle);
__declspec(dllimport) std::int32_t cameraStartLive(CameraHandle handle, std::int32_t wait);
__declspec(dllimport) std::int32_t cameraStopLive(CameraHandle handle, std::int32_t wait);
__declspec(dllimport) std::int32_t cameraWaitForNextImage(CameraHandle handle, std::uint32_t timeoutMs, char** memory,
                                                          std::int32_t* imageId);
__declspec(dllimport) std::int32_t cameraCopyImageMemory(CameraHandle handle, char* memory, std::int32_t imageId,
                                                         char* destination);
__declspec(dllimport) std::int32_t cameraUnlockSequenceBuffer(CameraHandle handle, std::int32_t memoryId, char* memory);
__declspec(dllimport) std::int32_t cameraCaptureStatus(CameraHandle handle, std::uint32_t command, void* param,
                                                       std::uint32_t size);
__declspec(dllimport) std::int32_t cameraClose(CameraHandle handle);
__declspec(dllimport) std::int32_t cameraLastError(CameraHandle handle, std::int32_t* code, char** text);
__declspec(dllimport) std::int32_t cameraPixelClock(CameraHandle handle, std::uint32_t command, void* param,
                                                    std::uint32_t size);
__declspec(dllimport) std::int32_t cameraSetFrameRate(CameraHandle handle, double fps, double* actualFps);
__declspec(dllimport) std::int32_t cameraFrameTimeRange(CameraHandle handle, double* minimum, double* maximum,
                                                        double* step);
__declspec(dllimport) std::int32_t cameraExposure(CameraHandle handle, std::uint32_t command, void* param,
                                                  std::uint32_t size);
__declspec(dllimport) std::int32_t cameraGamma(CameraHandle handle, std::uint32_t command, void* param,
                                               std::uint32_t size);
__declspec(dllimport) std::int32_t cameraHardwareGain(CameraHandle handle, std::int32_t master, std::int32_t red,
                                                      std::int32_t green, std::int32_t blue);
}
