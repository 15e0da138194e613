#pragma once
#include <string>

// Sends the process's standard output (CRT descriptor 1, which every module
// of the process writes through) to a temporary file while it lives.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written since construction.
    std::string text();

private:
    int savedFd_ = -1;
    int fileFd_ = -1;
};
