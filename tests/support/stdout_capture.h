#pragma once
#include <string>

// Sends the process's standard output (CRT descriptor 1, which every module
// of the process writes through) to a temporary file while it lives. GoogleTest's own
// failure reports still go to the real standard output.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything that reached standard output since construction, as a host reading it sees
    // it: output still in the C runtime's buffer is not there until its writer flushes it.
    std::string text();

private:
    int savedFd_ = -1;
    int fileFd_ = -1;
    bool unbufferedBefore_ = false;
    int outerConsoleFd_ = -1;
};
