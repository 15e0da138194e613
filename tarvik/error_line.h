#pragma once

#include <cstdint>

#include "camera_api.h"

namespace tarvik {

// Prints "<prefix><text> - <code>" and flushes.
void printErrorLine(const char* prefix, const char* text, std::int32_t code);
// The same line with the camera's last error, for a setter the camera refused.
void printCameraError(CameraHandle handle, const char* prefix);

} // namespace tarvik
