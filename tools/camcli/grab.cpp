// camcli grab: frames from a video-capture device through fenwyr's callback, to PNG.
#include <windows.h>
#include <wincodec.h>

#include <io.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "frame_image.h"
#include "png_writer.h"
#include "video_session.h"

const char* const kGrabHelp =
    "usage: camcli grab D [--format K] [--frames N] [--out DIR]\n"
    "Opens device D, selects capability K if given ('camcli formats D' lists them), captures\n"
    "N frames (default 5) through the frame callback and writes them as PNG files to DIR.\n";

namespace {

using Clock = std::chrono::steady_clock;

// What the callback collected; it runs on DirectShow's streaming thread.
struct Collector {
    std::mutex lock;
    std::condition_variable arrived;
    size_t wanted = 0;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<Clock::time_point> times;
};
Collector collector;

void onFrame(uint8_t* bytes, int32_t length) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> guard(collector.lock);
    if (collector.frames.size() >= collector.wanted || length < 0)
        return;
    collector.frames.emplace_back(bytes, bytes + length);
    collector.times.push_back(now);
    collector.arrived.notify_one();
}

// Waits until every frame arrived or none came for a while, showing progress.
void waitForFrames(size_t wanted) {
    // The progress line rewrites itself: only worth it on a console, not in a log.
    const bool onConsole = _isatty(_fileno(stdout)) != 0;
    std::unique_lock<std::mutex> guard(collector.lock);
    size_t seen = 0;
    auto lastProgress = Clock::now();
    while (collector.frames.size() < wanted && Clock::now() - lastProgress < std::chrono::seconds(5)) {
        collector.arrived.wait_for(guard, std::chrono::milliseconds(250));
        if (collector.frames.size() != seen) {
            seen = collector.frames.size();
            lastProgress = Clock::now();
        }
        if (onConsole) {
            std::printf("\rwaiting for frames: %zu/%zu", seen, wanted);
            std::fflush(stdout);
        }
    }
    if (onConsole)
        std::printf("\n");
}

std::wstring widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

} // namespace

int runGrab(Arguments& args) {
    const std::string word = args.positional("device index");
    long long capability = -1;
    size_t frames = 5;
    std::string outDir = ".";
    while (!args.empty()) {
        if (args.take("--format"))
            capability = args.integer("--format", 0, 1023);
        else if (args.take("--frames"))
            frames = static_cast<size_t>(args.integer("--frames", 1, 10000));
        else if (args.take("--out"))
            outDir = args.value("--out");
        else
            args.unknown();
    }

    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    const FenwyrApi& api = session.api();
    if (capability >= 0) {
        bool offered = false;
        for (const ResolutionInfo& f : session.capabilities(device))
            offered = offered || f.index == capability;
        if (!offered)
            throw UsageError("device " + word + " has no capability " + std::to_string(capability) +
                             "; 'camcli formats " + word + "' lists them");
        api.setResolution(device, static_cast<int32_t>(capability));
    }
    const ResolutionInfo format = session.currentFormat(device);
    std::printf("device %d: %dx%d %s, %d bits, %.3f fps\n", device, format.width, format.height,
                pixelFormatName(format.pixelFormat, format.bitCount), format.bitCount, format.framesPerSecond);

    collector.wanted = frames;
    api.setFrameArrivedCallback(device, onFrame);
    const int32_t started = api.startCapture(device);
    if (started < 0) {
        std::printf("camcli: device %d did not start (0x%08lX)\n", device, static_cast<unsigned long>(started));
        return 1;
    }
    waitForFrames(frames);
    api.stopCapture(device);
    api.setFrameArrivedCallback(device, nullptr);

    std::lock_guard<std::mutex> guard(collector.lock);
    const size_t received = collector.frames.size();
    long long lost = 0, repeated = 0;
    bool sequenced = received > 0;
    uint32_t previous = 0;
    for (size_t i = 0; i < received; ++i) {
        uint32_t sequence = 0;
        sequenced = sequenced && frameSequence(format, collector.frames[i], sequence);
        if (sequenced && i > 0) {
            if (sequence <= previous)
                ++repeated;
            else
                lost += sequence - previous - 1;
        }
        previous = sequence;
    }
    const double seconds =
        received > 1 ? std::chrono::duration<double>(collector.times.back() - collector.times.front()).count() : 0;
    std::printf("frames received %zu of %zu, frame size %zu bytes, %.2f fps measured\n", received, frames,
                received ? collector.frames.front().size() : size_t(0), seconds > 0 ? (received - 1) / seconds : 0.0);
    if (sequenced)
        std::printf("frames lost %lld, repeated %lld (from the device's sequence numbers)\n", lost, repeated);

    for (size_t i = 0; i < received; ++i) {
        const BgrImage image = frameToImage(format, collector.frames[i]);
        const std::string name = outDir + "/grab_" + std::to_string(device) + "_" + std::to_string(image.width) + "x" +
                                 std::to_string(image.height) + "_" + pixelFormatName(format.pixelFormat, format.bitCount) +
                                 "_" + std::to_string(i) + ".png";
        writePng(widen(name), image.width, image.height, GUID_WICPixelFormat24bppBGR, image.pixels.data(),
                 image.width * 3);
    }
    if (received)
        std::printf("PNG files written to %s\n", outDir.c_str());
    return received == frames ? 0 : 1;
}
