#pragma once
#include <string>
#include <vector>

// The simulated camera's test controls, reached in whichever uEye_api_64.dll the
// process loaded (the stand-in beside the test program), so tests see exactly
// what tarvik's calls did to the camera.
class CameraSim {
public:
    // Resets the camera to its defaults and clears the call log.
    CameraSim();

    void setPresent(bool present);
    // The next `calls` calls of `ordinal` return `status` (-1: every call; 0: stop forcing).
    void forceStatus(int ordinal, int status, int calls = 1);
    void setOption(const char* name, double value);

    // One entry per camera call since the last clearLog, e.g. "486 1 16 0 0 640 480".
    std::vector<std::string> calls();
    void clearLog();

    long long framesProduced();
    long long framesDropped();
    int liveMemories();
};
