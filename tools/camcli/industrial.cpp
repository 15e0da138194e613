// camcli industrial: the industrial camera through tarvik.dll.
#include <windows.h>
#include <wincodec.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "png_writer.h"
#include "utf8.h"
#include "tarvik_api.h"

const char* const kIndustrialHelp =
    "usage: camcli industrial [--aoi X,Y,W,H] [--pixel-clock MHZ] [--fps F] [--exposure MS]\n"
    "                         [--gain G] [--gamma G] [--frames N] [--out DIR]\n"
    "Opens the first industrial camera, prints what it offers, applies the settings given,\n"
    "captures N frames (default 5) and writes them as 8-bit grey PNG files to DIR.\n";

namespace {

struct Settings {
    std::optional<AoiRect> aoi;
    std::optional<int32_t> pixelClock;
    std::optional<double> fps;
    std::optional<double> exposure;
    std::optional<int32_t> gain;
    std::optional<int32_t> gamma;
    int frames = 5;
    std::string outDir = ".";
};

Settings parse(Arguments& args) {
    Settings s;
    while (!args.empty()) {
        if (args.take("--aoi")) {
            const auto v = args.integers("--aoi", 4);
            s.aoi = AoiRect{static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]), static_cast<int32_t>(v[2]),
                            static_cast<int32_t>(v[3])};
        } else if (args.take("--pixel-clock")) {
            s.pixelClock = static_cast<int32_t>(args.integer("--pixel-clock", 1, 100000));
        } else if (args.take("--fps")) {
            s.fps = args.number("--fps");
        } else if (args.take("--exposure")) {
            s.exposure = args.number("--exposure");
        } else if (args.take("--gain")) {
            s.gain = static_cast<int32_t>(args.integer("--gain", 0, 100000));
        } else if (args.take("--gamma")) {
            s.gamma = static_cast<int32_t>(args.integer("--gamma", 1, 100000));
        } else if (args.take("--frames")) {
            s.frames = static_cast<int>(args.integer("--frames", 1, 100000));
        } else if (args.take("--out")) {
            s.outDir = args.value("--out");
        } else {
            args.unknown();
        }
    }
    return s;
}

void printCamera(const TarvikApi& api, CameraContext* camera) {
    char serial[13] = {};
    api.getCameraName(camera, serial);
    std::printf("camera id %d, serial \"%s\"\n", api.getCameraId(camera), serial);

    AoiInfoRecord info{};
    api.aoiInfo(camera, &info);
    std::printf("AOI %d,%d %dx%d; size %dx%d to %dx%d in steps of %dx%d\n", info.current.x, info.current.y,
                info.current.width, info.current.height, info.minimum.width, info.minimum.height,
                info.maximum.width, info.maximum.height, info.increment.width, info.increment.height);

    std::vector<int32_t> clocks(TARVIK_MAX_PIXEL_CLOCKS, 0);
    api.getPixelClockRange(camera, clocks.data());
    std::printf("pixel clocks (MHz):");
    for (int32_t c : clocks)
        if (c > 0)
            std::printf(" %d", c);
    std::printf("; current %d\n", api.getCurrentPixelClock(camera));

    RangeRecord period{};
    api.getFpsRange(camera, &period);
    if (period.minimum > 0 && period.maximum > 0)
        std::printf("frame rate %.3f to %.3f fps; current %.3f fps\n", 1.0 / period.maximum, 1.0 / period.minimum,
                    api.getCurrentFps(camera));
    RangeRecord exposure{};
    api.getExposureRange(camera, &exposure);
    std::printf("exposure %.4f to %.4f ms in steps of %.4f; current %.4f ms\n", exposure.minimum, exposure.maximum,
                exposure.step, api.getCurrentExposure(camera));
}

// What the camera reports of its AOI rules, checked before asking it.
std::string aoiProblem(const AoiRect& aoi, const AoiInfoRecord& limits) {
    const AoiSize& inc = limits.increment;
    if (aoi.x < 0 || aoi.y < 0 || aoi.x + aoi.width > limits.maximum.width || aoi.y + aoi.height > limits.maximum.height)
        return "must lie within the sensor's " + std::to_string(limits.maximum.width) + "x" +
               std::to_string(limits.maximum.height);
    if (aoi.width < limits.minimum.width || aoi.height < limits.minimum.height)
        return "must be at least " + std::to_string(limits.minimum.width) + "x" + std::to_string(limits.minimum.height);
    if ((inc.width > 0 && aoi.width % inc.width) || (inc.height > 0 && aoi.height % inc.height))
        return "needs a size in steps of " + std::to_string(inc.width) + "x" + std::to_string(inc.height);
    return "";
}

std::string aoiText(const AoiRect& aoi) {
    return std::to_string(aoi.x) + "," + std::to_string(aoi.y) + "," + std::to_string(aoi.width) + "," +
           std::to_string(aoi.height);
}

bool sameAoi(const AoiRect& a, const AoiRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

} // namespace

int runIndustrial(Arguments& args) {
    const Settings settings = parse(args);
    Library dll(L"tarvik.dll");
    const TarvikApi api(dll);

    const OpenedCamera opened(api);
    CameraContext* const camera = opened.get();
    if (!camera)
        return 1;

    printCamera(api, camera);

    AoiInfoRecord info{};
    api.aoiInfo(camera, &info);
    const AoiRect aoi = settings.aoi.value_or(info.current);
    const std::string problem = aoiProblem(aoi, info);
    if (!problem.empty())
        throw UsageError("AOI " + aoiText(aoi) + " " + problem);
    api.setAoi(camera, &aoi);
    api.aoiInfo(camera, &info);
    if (!sameAoi(info.current, aoi))
        throw UsageError("the camera refused AOI " + aoiText(aoi) + "; try another position or size");
    if (settings.pixelClock)
        api.setPixelClock(camera, *settings.pixelClock);
    if (settings.fps)
        std::printf("frame rate set to %.3f fps\n", api.setFps(camera, *settings.fps));
    if (settings.exposure)
        api.setExposure(camera, *settings.exposure);
    if (settings.gain)
        api.setGain(camera, *settings.gain);
    if (settings.gamma)
        api.setGamma(camera, *settings.gamma);

    std::printf("capturing %d frames of %dx%d at %.3f fps, exposure %.4f ms, gain %d\n", settings.frames, aoi.width,
                aoi.height, api.getCurrentFps(camera), api.getCurrentExposure(camera), api.getGain(camera));
    std::fflush(stdout);

    // Sized from the AOI the camera reports having, not from the one asked for.
    std::vector<unsigned char> frame(static_cast<size_t>(info.current.width) * info.current.height);
    const int32_t capacity = static_cast<int32_t>(frame.size());
    if (api.startCapture(camera) != 0) {
        std::printf("camcli: the camera did not start capturing\n");
        return 1;
    }
    int captured = 0, timeouts = 0;
    long long gaps = 0;
    std::optional<uint32_t> lastCounter;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < settings.frames; ++i) {
        if (!api.captureFrameChecked(camera, frame.data(), capacity)) {
            ++timeouts;
            continue;
        }
        ++captured;
        // Cameras that stamp a counter into the first bytes show gaps in it.
        uint32_t counter;
        std::memcpy(&counter, frame.data(), sizeof counter);
        if (lastCounter && counter > *lastCounter)
            gaps += counter - *lastCounter - 1;
        lastCounter = counter;
        const std::string name = settings.outDir + "/industrial_" + std::to_string(aoi.width) + "x" +
                                 std::to_string(aoi.height) + "_" + std::to_string(i) + ".png";
        writePng(fromUtf8(name), static_cast<UINT>(aoi.width), static_cast<UINT>(aoi.height),
                 GUID_WICPixelFormat8bppGray, frame.data(), static_cast<UINT>(aoi.width));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    api.stopCurrentCapture(camera);

    std::printf("frames captured %d, timed out %d, lost (counter gaps) %lld, %.2f fps reached\n", captured, timeouts,
                gaps, seconds > 0 ? captured / seconds : 0.0);
    std::printf("PNG files written to %s\n", settings.outDir.c_str());
    return captured == settings.frames ? 0 : 1;
}
