#include "error_line.h"

#include <iostream>

namespace tarvik {

void printErrorLine(const char* prefix, const char* text, std::int32_t code) {
    // A write that failed once (a host without a console) leaves the stream bad, and a bad
    // stream writes nothing ever again: start every line from a good state.
    std::cout.clear();
    std::cout << prefix << (text ? text : "") << " - " << code << std::endl;
}

void printCameraError(CameraHandle handle, const char* prefix) {
    std::int32_t code = 0;
    char* text = nullptr;
    cameraLastError(handle, &code, &text);
    printErrorLine(prefix, text, code);
}

} // namespace tarvik
