#include "camera_sim.h"

#include <windows.h>

#include <sstream>
#include <stdexcept>

namespace {

struct Controls {
    void (*reset)();
    void (*setCameraPresent)(int);
    void (*forceStatus)(int, int, int);
    void (*setOption)(const char*, double);
    int (*callLog)(char*, int);
    void (*clearLog)();
    void (*getStats)(long long*, long long*, int*);
};

template <typename F>
void bind(HMODULE module, const char* name, F& function) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!function)
        throw std::runtime_error(std::string("camera stand-in lacks ") + name);
}

const Controls& controls() {
    static const Controls loaded = [] {
        HMODULE module = LoadLibraryW(L"uEye_api_64.dll");
        if (!module)
            throw std::runtime_error("uEye_api_64.dll not found");
        Controls c{};
        bind(module, "simReset", c.reset);
        bind(module, "simSetCameraPresent", c.setCameraPresent);
        bind(module, "simForceStatus", c.forceStatus);
        bind(module, "simSetOption", c.setOption);
        bind(module, "simCallLog", c.callLog);
        bind(module, "simClearLog", c.clearLog);
        bind(module, "simGetStats", c.getStats);
        return c;
    }();
    return loaded;
}

} // namespace

CameraSim::CameraSim() {
    controls().reset();
}

void CameraSim::setPresent(bool present) {
    controls().setCameraPresent(present ? 1 : 0);
}

void CameraSim::forceStatus(int ordinal, int status, int calls) {
    controls().forceStatus(ordinal, status, calls);
}

void CameraSim::setOption(const char* name, double value) {
    controls().setOption(name, value);
}

std::vector<std::string> CameraSim::calls() {
    char probe = 0;
    int needed = controls().callLog(&probe, 1);
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    controls().callLog(&text[0], needed + 1);
    text.resize(static_cast<size_t>(needed));
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void CameraSim::clearLog() {
    controls().clearLog();
}

long long CameraSim::framesProduced() {
    long long produced = 0;
    controls().getStats(&produced, nullptr, nullptr);
    return produced;
}

long long CameraSim::framesDropped() {
    long long dropped = 0;
    controls().getStats(nullptr, &dropped, nullptr);
    return dropped;
}

int CameraSim::liveMemories() {
    int memories = 0;
    controls().getStats(nullptr, nullptr, &memories);
    return memories;
}
