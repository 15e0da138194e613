// Frame copy through tarvik against the same camera operations called directly, and memcpy.
#include <windows.h>

#include <camera_controls.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "bench_table.h"
#include "tarvik.h"

namespace {

using Clock = std::chrono::steady_clock;
using Handle = std::uint32_t;

template <typename Function>
Function byOrdinal(int ordinal) {
    FARPROC address = GetProcAddress(GetModuleHandleW(L"uEye_api_64.dll"), MAKEINTRESOURCEA(ordinal));
    if (!address)
        throw std::runtime_error("camera API ordinal missing");
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// The camera operations a host without tarvik would call.
struct CameraApi {
    std::int32_t (*open)(Handle*, void*) = byOrdinal<decltype(open)>(237);
    std::int32_t (*close)(Handle) = byOrdinal<decltype(close)>(239);
    std::int32_t (*colourMode)(Handle, int) = byOrdinal<decltype(colourMode)>(17);
    std::int32_t (*aoi)(Handle, std::uint32_t, void*, std::uint32_t) = byOrdinal<decltype(aoi)>(486);
    std::int32_t (*allocate)(Handle, int, int, int, char**, int*) = byOrdinal<decltype(allocate)>(36);
    std::int32_t (*addToSequence)(Handle, char*, int) = byOrdinal<decltype(addToSequence)>(68);
    std::int32_t (*clearSequence)(Handle) = byOrdinal<decltype(clearSequence)>(69);
    std::int32_t (*freeMemory)(Handle, char*, int) = byOrdinal<decltype(freeMemory)>(38);
    std::int32_t (*initQueue)(Handle, int) = byOrdinal<decltype(initQueue)>(395);
    std::int32_t (*exitQueue)(Handle) = byOrdinal<decltype(exitQueue)>(429);
    std::int32_t (*startLive)(Handle, int) = byOrdinal<decltype(startLive)>(5);
    std::int32_t (*stopLive)(Handle, int) = byOrdinal<decltype(stopLive)>(3);
    std::int32_t (*waitForImage)(Handle, std::uint32_t, char**, int*) = byOrdinal<decltype(waitForImage)>(393);
    std::int32_t (*copy)(Handle, char*, int, char*) = byOrdinal<decltype(copy)>(85);
    std::int32_t (*unlock)(Handle, int, char*) = byOrdinal<decltype(unlock)>(72);
};

struct Size {
    int width, height;
    int frames;  // per repetition
};

std::vector<double> rates(int frames, size_t frameBytes, Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    return {frames / seconds, frames * double(frameBytes) / seconds / 1e6};
}

std::vector<double> throughTarvik(const Size& size, std::vector<char>& destination) {
    CameraContext* camera = findAvailableCamera();
    if (!camera)
        throw std::runtime_error("no camera");
    AoiRect aoi{0, 0, size.width, size.height};
    setAoi(camera, &aoi);
    startCapture(camera);
    captureFrame(camera, destination.data());
    const auto start = Clock::now();
    for (int i = 0; i < size.frames; ++i)
        if (!captureFrame(camera, destination.data()))
            throw std::runtime_error("tarvik lost a frame");
    const auto elapsed = Clock::now() - start;
    stopCurrentCapture(camera);
    closeCamera(camera);
    return rates(size.frames, destination.size(), elapsed);
}

std::vector<double> direct(const CameraApi& api, const Size& size, std::vector<char>& destination) {
    Handle handle = 0;
    if (api.open(&handle, nullptr) != 0)
        throw std::runtime_error("no camera");
    api.colourMode(handle, 6);
    std::int32_t aoi[4] = {0, 0, size.width, size.height};
    api.aoi(handle, 1, aoi, sizeof aoi);
    char* memory[2];
    int id[2];
    for (int i = 0; i < 2; ++i) {
        api.allocate(handle, size.width, size.height, 8, &memory[i], &id[i]);
        api.addToSequence(handle, memory[i], id[i]);
    }
    api.initQueue(handle, 0);
    api.startLive(handle, 0);
    auto one = [&] {
        char* received = nullptr;
        int imageId = 0;
        if (api.waitForImage(handle, 1000, &received, &imageId) != 0)
            throw std::runtime_error("direct calls lost a frame");
        api.copy(handle, received, imageId, destination.data());
        api.unlock(handle, -1, received);
    };
    one();
    const auto start = Clock::now();
    for (int i = 0; i < size.frames; ++i)
        one();
    const auto elapsed = Clock::now() - start;
    api.stopLive(handle, 1);
    api.exitQueue(handle);
    api.clearSequence(handle);
    for (int i = 0; i < 2; ++i)
        api.freeMemory(handle, memory[i], id[i]);
    api.close(handle);
    return rates(size.frames, destination.size(), elapsed);
}

std::vector<double> plainCopy(const Size& size, const std::vector<char>& source, std::vector<char>& destination) {
    const auto start = Clock::now();
    for (int i = 0; i < size.frames; ++i) {
        std::memcpy(destination.data(), source.data(), source.size());
        // Keep the copy from being optimised away.
        destination[i % destination.size()] ^= 1;
    }
    return rates(size.frames, source.size(), Clock::now() - start);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 7;
    try {
        simReset();
        simSetOption("unpaced", 1);
        simSetOption("log", 0);
        const CameraApi api;

        std::vector<Figure> figures;
        for (const Size& size : {Size{1280, 1024, 400}, Size{320, 240, 4000}}) {
            std::vector<char> destination(size_t(size.width) * size.height);
            const std::vector<char> source(destination.size(), 7);
            const auto samples = alternate(repetitions, {
                [&] { return throughTarvik(size, destination); },
                [&] { return direct(api, size, destination); },
                [&] { return plainCopy(size, source, destination); },
            });
            const std::string group = "captureFrame " + std::to_string(size.width) + "x" + std::to_string(size.height);
            const char* variants[] = {"tarvik", "direct", "memcpy"};
            for (int v = 0; v < 3; ++v) {
                figures.push_back({group, variants[v], "frames/s", samples[v][0], v == 0 ? "direct" : ""});
                figures.push_back({group, variants[v], "MB/s", samples[v][1], v == 0 ? "direct" : ""});
            }
            figures.back().baseline = "";
        }
        // tarvik against memcpy too: what the camera path costs over a bare copy.
        for (Figure f : std::vector<Figure>(figures))
            if (f.variant == "tarvik" && f.unit == "MB/s") {
                f.variant = "tarvik/memcpy";
                f.baseline = "memcpy";
                figures.push_back(f);
            }
        printTable("Frame copy (tarvik), " + std::to_string(repetitions) + " alternating repetitions", figures);
        return 0;
    } catch (const std::exception& e) {
        std::printf("benchmark failed: %s\n", e.what());
        return 1;
    }
}
