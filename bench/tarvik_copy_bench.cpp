// Frame copy through tarvik against the same camera operations called directly, and memcpy.
#include <windows.h>

#include <camera_controls.h>
#include <camera_ops.h>

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

// The same camera work without tarvik: a host calling the camera API itself.
std::vector<double> direct(const Size& size, std::vector<char>& destination) {
    using camera_ops::ops;
    camera_ops::Handle handle = 0;
    if (ops().open(&handle, nullptr) != 0)
        throw std::runtime_error("no camera");
    ops().setColourMode(handle, 6);
    camera_ops::setAoi(handle, {0, 0, size.width, size.height});
    camera_ops::Memories memories;
    memories.allocate(handle, size.width, size.height);
    ops().startLive(handle, 0);
    auto one = [&] {
        char* received = nullptr;
        int imageId = 0;
        if (ops().waitForImage(handle, 1000, &received, &imageId) != 0)
            throw std::runtime_error("direct calls lost a frame");
        ops().copy(handle, received, imageId, destination.data());
        ops().unlock(handle, -1, received);
    };
    one();
    const auto start = Clock::now();
    for (int i = 0; i < size.frames; ++i)
        one();
    const auto elapsed = Clock::now() - start;
    ops().stopLive(handle, 1);
    memories.release(handle);
    ops().close(handle);
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

        std::vector<Figure> figures;
        for (const Size& size : {Size{1280, 1024, 400}, Size{320, 240, 4000}}) {
            std::vector<char> destination(size_t(size.width) * size.height);
            const std::vector<char> source(destination.size(), 7);
            const auto samples = alternate(repetitions, {
                [&] { return throughTarvik(size, destination); },
                [&] { return direct(size, destination); },
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
