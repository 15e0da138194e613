// The one picture the simulated sensor sees: a grey test chart a person recognises at a glance.
#pragma once

#include <cstdint>

namespace camera_sim {

constexpr int kSensorWidth = 1280;
constexpr int kSensorHeight = 1024;

// kSensorWidth x kSensorHeight bytes, row after row; built once, on first use.
const std::uint8_t* sceneImage();

struct AoiRect {
    int x = 0;
    int y = 0;
    int width = kSensorWidth;
    int height = kSensorHeight;
};
static_assert(sizeof(AoiRect) == 16, "the AOI travels as four 32-bit integers");

// Writes the crop of the scene at `aoi` into an image memory, row by row, clipped to the
// memory's own size, then stamps the frame counter into bytes 0-3 (little-endian).
void renderFrame(const AoiRect& aoi, char* memory, int memoryPitch, int memoryHeight,
                 std::uint32_t frameCounter);

}  // namespace camera_sim
