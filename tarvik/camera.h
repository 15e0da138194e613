// The opened camera and its image memories: open, AOI, live capture, frame copy, close.
#pragma once

#include <cstdint>
#include <vector>

#include "camera_api.h"
#include "tarvik.h"

// One image memory of the camera, as the camera API allocated it.
struct ImageBuffer {
    char* memory = nullptr;
    std::int32_t memoryId = 0;
};

struct CameraContext {
    CameraHandle handle = 0;
    // In allocation order: two after a successful setAoi, fewer when the camera could not
    // allocate or queue one; only memories that exist and are queued. Room for two is reserved
    // when the context is made, so recording a memory never allocates.
    std::vector<ImageBuffer> buffers;
    // The size of every memory in buffers: the AOI of the last successful setAoi.
    std::int32_t memoryWidth = 0;
    std::int32_t memoryHeight = 0;
};

namespace tarvik {

CameraContext* openFirstCamera();
// Closes the camera and frees the context; returns the close status.
std::int32_t closeCamera(CameraContext* camera);

std::int32_t cameraId(const CameraContext& camera);
void cameraSerial(const CameraContext& camera, char* serial);

void setAoi(CameraContext& camera, const AoiRect& aoi);
void readAoiInfo(const CameraContext& camera, AoiInfoRecord& info);

std::int32_t startLive(const CameraContext& camera);
std::int32_t stopLive(const CameraContext& camera);
// 1 when a frame was copied to destination, 0 otherwise (also when the copy itself failed).
std::int32_t captureFrame(const CameraContext& camera, void* destination);
// As captureFrame, but 0 without asking the camera when there is no image memory or capacity
// (bytes at destination) is less than one.
std::int32_t captureFrameChecked(const CameraContext& camera, void* destination, std::int32_t capacity);

} // namespace tarvik
