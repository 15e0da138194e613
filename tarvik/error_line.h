#pragma once

#include "camera_api.h"

namespace tarvik {

// Prints "<prefix><camera's error text> - <code>" and flushes, for a setter the camera refused.
void printCameraError(CameraHandle handle, const char* prefix);

} // namespace tarvik
