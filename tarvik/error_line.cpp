#include "error_line.h"

#include <iostream>

namespace tarvik {

void printCameraError(CameraHandle handle, const char* prefix) {
    std::int32_t code = 0;
    char* text = nullptr;
    cameraLastError(handle, &code, &text);
    std::cout << prefix << (text ? text : "") << " - " << code << std::endl;
}

} // namespace tarvik
