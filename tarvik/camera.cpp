#include "camera.h"

#include <cstring>
#include <memory>

#include "error_line.h"

namespace tarvik {
namespace {

constexpr std::int32_t kImageBufferCount = 2;
constexpr std::int32_t kBitsPerPixel = 8;
constexpr char kAoiErrorPrefix[] = "Error setting aoi: ";

void freeImageMemories(CameraContext& camera) {
    for (const ImageBuffer& buffer : camera.buffers)
        cameraFreeImageMemory(camera.handle, buffer.memory, buffer.memoryId);
    camera.buffers.clear();
}

// Replaces the image memories with two of the given size, queued for live capture. A memory
// the camera cannot allocate or queue gets the AOI's error line and is not kept; those made
// before it stay, so live capture goes on with fewer.
void rebuildImageMemories(CameraContext& camera, std::int32_t width, std::int32_t height) {
    cameraExitImageQueue(camera.handle);
    cameraClearSequence(camera.handle);
    freeImageMemories(camera);
    camera.memoryWidth = width;
    camera.memoryHeight = height;
    for (std::int32_t i = 0; i < kImageBufferCount; ++i) {
        ImageBuffer buffer;
        if (cameraAllocImageMemory(camera.handle, width, height, kBitsPerPixel, &buffer.memory, &buffer.memoryId) !=
            camera_api::kSuccess) {
            printCameraError(camera.handle, kAoiErrorPrefix);
            break;
        }
        if (cameraAddToSequence(camera.handle, buffer.memory, buffer.memoryId) != camera_api::kSuccess) {
            printCameraError(camera.handle, kAoiErrorPrefix);
            cameraFreeImageMemory(camera.handle, buffer.memory, buffer.memoryId);
            break;
        }
        camera.buffers.push_back(buffer);  // within the reserved room: cannot throw
    }
    cameraInitImageQueue(camera.handle, 0);
}

bool readInfo(const CameraContext& camera, unsigned char (&info)[camera_api::kCameraInfoSize]) {
    std::memset(info, 0, sizeof info);
    return cameraReadInfo(camera.handle, info) == camera_api::kSuccess;
}

} // namespace

CameraContext* openFirstCamera() {
    // All the memory a context needs is taken before the camera is opened: running out of it
    // must not leave the camera open with no owner, nor a queued image memory without a record.
    auto camera = std::make_unique<CameraContext>();
    camera->buffers.reserve(kImageBufferCount);
    CameraHandle handle = 0;
    if (cameraOpen(&handle, nullptr) != camera_api::kSuccess)
        return nullptr;
    camera->handle = handle;
    cameraSetDisplayMode(handle, camera_api::kDisplayModeBitmap);
    cameraSetColorMode(handle, camera_api::kColorModeMono8);
    return camera.release();
}

std::int32_t closeCamera(CameraContext* camera) {
    std::unique_ptr<CameraContext> owned(camera);
    cameraStopLive(camera->handle, 1);
    cameraExitImageQueue(camera->handle);
    cameraClearSequence(camera->handle);
    freeImageMemories(*camera);
    return cameraClose(camera->handle);
}

std::int32_t cameraId(const CameraContext& camera) {
    unsigned char info[camera_api::kCameraInfoSize];
    if (!readInfo(camera, info))
        return -1;
    return info[camera_api::kCameraInfoIdOffset];
}

void cameraSerial(const CameraContext& camera, char* serial) {
    unsigned char info[camera_api::kCameraInfoSize];
    if (!readInfo(camera, info))
        std::memset(info, 0, sizeof info);
    std::memcpy(serial, info, camera_api::kSerialTextSize);
}

void setAoi(CameraContext& camera, const AoiRect& aoi) {
    // The camera only ever sees a private copy: the host's record is never written.
    AoiRect forCamera = aoi;
    if (cameraAoi(camera.handle, camera_api::kAoiSet, &forCamera, sizeof forCamera) != camera_api::kSuccess) {
        printCameraError(camera.handle, kAoiErrorPrefix);
        return;
    }
    rebuildImageMemories(camera, aoi.width, aoi.height);
}

void readAoiInfo(const CameraContext& camera, AoiInfoRecord& info) {
    AoiRect current{};
    if (cameraAoi(camera.handle, camera_api::kAoiGet, &current, sizeof current) == camera_api::kSuccess)
        info.current = current;
    AoiSize size{};
    if (cameraAoi(camera.handle, camera_api::kAoiMinimumSize, &size, sizeof size) == camera_api::kSuccess)
        info.minimum = size;
    if (cameraAoi(camera.handle, camera_api::kAoiMaximumSize, &size, sizeof size) == camera_api::kSuccess)
        info.maximum = size;
    if (cameraAoi(camera.handle, camera_api::kAoiSizeIncrement, &size, sizeof size) == camera_api::kSuccess)
        info.increment = size;
}

std::int32_t startLive(const CameraContext& camera) {
    return cameraStartLive(camera.handle, 0);
}

std::int32_t stopLive(const CameraContext& camera) {
    return cameraStopLive(camera.handle, 1);
}

std::int32_t captureFrame(const CameraContext& camera, void* destination) {
    char* memory = nullptr;
    std::int32_t imageId = 0;
    const std::int32_t status =
        cameraWaitForNextImage(camera.handle, camera_api::kWaitTimeoutMs, &memory, &imageId);
    if (status == camera_api::kSuccess) {
        const std::int32_t copied =
            cameraCopyImageMemory(camera.handle, memory, imageId, static_cast<char*>(destination));
        // Hand the memory back at once, copied or not, so the camera can fill it again.
        cameraUnlockSequenceBuffer(camera.handle, camera_api::kIgnoreParameter, memory);
        return copied == camera_api::kSuccess ? 1 : 0;
    }
    if (status == camera_api::kCaptureStatusError)
        cameraCaptureStatus(camera.handle, camera_api::kCaptureStatusReset, nullptr, 0);
    return 0;
}

std::int32_t captureFrameChecked(const CameraContext& camera, void* destination, std::int32_t capacity) {
    // Refused before the camera is asked, so a host that fixes its buffer loses no frame.
    const std::int64_t frameBytes = static_cast<std::int64_t>(camera.memoryWidth) * camera.memoryHeight;
    if (camera.buffers.empty() || capacity < frameBytes)
        return 0;
    return captureFrame(camera, destination);
}

} // namespace tarvik
