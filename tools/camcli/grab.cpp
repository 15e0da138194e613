// camcli grab: frames from a video-capture device through fenwyr, to PNG. By default a thread of
// camcli's own polls with grabFrame, as a host that cannot take callbacks would; --callback takes
// them in the described frame callback on DirectShow's streaming thread.
#include <windows.h>
#include <vfwmsgs.h>
#include <wincodec.h>

#include <io.h>

#include <stdexcept>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera_controls.h"
#include "capability_choice.h"
#include "commands.h"
#include "frame_image.h"
#include "png_writer.h"
#include "utf8.h"
#include "video_session.h"

const char* const kGrabHelp =
    "usage: camcli grab D [--format K [--fps F] | [--size WxH] [--pixel FOURCC] [--fps F]]\n"
    "                  [--set NAME=VALUE]... [--frames N] [--callback]\n"
    "                  [--output bgr24|bgra|rgb|rgba|gray|native] [--out DIR] [--stall MS]\n"
    "Opens device D, selects capability K if given ('camcli formats D' lists them) at F frames\n"
    "per second (within its rates; 0 or none: its default), or else the capability that serves\n"
    "--size, --pixel (such as MJPG or YUY2) and --fps, each a requirement, at the least bandwidth\n"
    "(fenwyr's chooseFormat; camcli prints which it chose), applies each camera control setting\n"
    "as 'camcli controls' does, captures N frames (default 5) and writes them to DIR: as PNG\n"
    "files of the pictures fenwyr converted them to (--output, default bgr24), or with --output\n"
    "native as the device's own bytes (.raw files).\n"
    "A rate or a setting the device refuses ends camcli with exit code 2 before it captures.\n"
    "Frames are taken with grabFrame by a thread of camcli's own that polls for them; with\n"
    "--callback, in the frame callback (setFrameCallbackEx) on the device's streaming thread.\n"
    "Reports the frames camcli missed (gaps in fenwyr's frame sequence; grabFrame keeps only the\n"
    "newest), the device's own count of dropped frames when it reports one, and with --output\n"
    "native the frames the device lost (from its own sequence numbers, virtual devices only).\n"
    "It gives up after 5 s without a frame. --stall MS (100 to 600000) has fenwyr take MS without\n"
    "a frame as a stall and bring the device back by itself, as it was (setSupervision with\n"
    "FENWYR_RECOVER_AUTO); camcli then waits up to MS + 15 s for a frame, time for fenwyr's first\n"
    "five attempts, prints the stalls and recoveries as they come and their counts at the end.\n";

struct OutputName {
    const char* name;
    int32_t output;
};
const OutputName kOutputs[] = {{"bgr24", FENWYR_OUTPUT_BGR24}, {"bgra", FENWYR_OUTPUT_BGRA32},
                               {"rgb", FENWYR_OUTPUT_RGB24},   {"rgba", FENWYR_OUTPUT_RGBA32},
                               {"gray", FENWYR_OUTPUT_GRAY8},  {"native", FENWYR_OUTPUT_NATIVE}};

namespace {

constexpr HRESULT kTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
constexpr HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

// The frames taken, from whichever thread takes them.
struct Collector {
    std::mutex lock;
    std::condition_variable changed;
    size_t wanted = 0;
    bool finished = false;  // the poller gave up: no more frames will come
    std::vector<std::vector<uint8_t>> frames;
    std::vector<FrameInfo> infos;

    // False once every wanted frame is in.
    bool add(const uint8_t* bytes, const FrameInfo& info) {
        std::lock_guard<std::mutex> guard(lock);
        if (frames.size() < wanted) {
            frames.emplace_back(bytes, bytes + info.length);
            infos.push_back(info);
            changed.notify_one();
        }
        return frames.size() < wanted;
    }
    void finish() {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
        changed.notify_one();
    }
};

void onFrame(const uint8_t* bytes, const FrameInfo* info, void* collector) {
    if (info->length >= 0)
        static_cast<Collector*>(collector)->add(bytes, *info);
}

// Polls until every frame is in or grabFrame stops answering with frames; a stopCapture on the
// main thread ends a waiting call with VFW_E_NOT_RUNNING. Returns grabFrame's last result.
HRESULT pollFrames(const FenwyrApi& api, int device, Collector& collector) {
    std::vector<uint8_t> buffer(64 * 1024);
    for (;;) {
        FrameInfo info{};
        const HRESULT hr = api.grabFrame(device, buffer.data(), static_cast<int32_t>(buffer.size()), &info, 1000);
        if (hr == S_OK) {
            if (!collector.add(buffer.data(), info))
                return hr;
        } else if (hr == kTooSmall) {
            buffer.resize(static_cast<size_t>(info.length));  // the frame waits for the next call
        } else if (hr != kTimedOut) {
            return hr;
        }
    }
}

// Device events, handed to the main thread to print.
struct Events {
    std::mutex lock;
    std::vector<std::pair<int32_t, int32_t>> taken;  // event, detail
};

void onEvent(int32_t, int32_t event, int32_t detail, void* events) {
    auto* e = static_cast<Events*>(events);
    std::lock_guard<std::mutex> guard(e->lock);
    e->taken.emplace_back(event, detail);
}

void printEvents(Events& events) {
    std::vector<std::pair<int32_t, int32_t>> taken;
    {
        std::lock_guard<std::mutex> guard(events.lock);
        taken.swap(events.taken);
    }
    for (const auto& e : taken) {
        if (e.first == FENWYR_DEVICE_STALLED)
            std::printf("stalled: no frame for %d ms\n", e.second);
        else if (e.first == FENWYR_DEVICE_RECOVERED && e.second == 0)
            std::printf("resumed by itself\n");
        else if (e.first == FENWYR_DEVICE_RECOVERED)
            std::printf("recovered after %d attempt%s\n", e.second, e.second == 1 ? "" : "s");
        else if (e.first == FENWYR_DEVICE_LOST)
            std::printf("device lost\n");
        else if (e.first == FENWYR_DEVICE_RETURNED)
            std::printf("device returned\n");
        else if (e.first == FENWYR_DEVICE_ERROR)
            std::printf("stream error 0x%08lX\n", static_cast<unsigned long>(e.second));
    }
    std::fflush(stdout);
}

// Waits until every frame arrived, the poller gave up or none came for idleLimit, showing
// progress. This is the init thread: its wait runs fenwyr's automatic recovery attempts.
void waitForFrames(Collector& collector, Events& events, std::chrono::milliseconds idleLimit) {
    using Clock = std::chrono::steady_clock;
    // The progress line rewrites itself: only worth it on a console, not in a log.
    const bool onConsole = _isatty(_fileno(stdout)) != 0;
    std::unique_lock<std::mutex> guard(collector.lock);
    size_t seen = 0;
    auto lastProgress = Clock::now();
    while (collector.frames.size() < collector.wanted && !collector.finished &&
           Clock::now() - lastProgress < idleLimit) {
        guard.unlock();
        waitDispatchingMessages(50);
        printEvents(events);
        guard.lock();
        if (collector.frames.size() != seen) {
            seen = collector.frames.size();
            lastProgress = Clock::now();
        }
        if (onConsole) {
            std::printf("\rwaiting for frames: %zu/%zu", seen, collector.wanted);
            std::fflush(stdout);
        }
    }
    if (onConsole)
        std::printf("\n");
}

int32_t outputNamed(const std::string& name) {
    for (const OutputName& entry : kOutputs)
        if (name == entry.name)
            return entry.output;
    throw UsageError("--output takes bgr24, bgra, rgb, rgba, gray or native, not " + name);
}

const char* outputName(int32_t output) {
    for (const OutputName& entry : kOutputs)
        if (output == entry.output)
            return entry.name;
    return "native";
}

// One frame as a file: a PNG of a picture, or the device's own bytes.
void writeFrame(const std::string& stem, const FrameInfo& info, const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> pixels;
    GUID format{};
    if (!pngPixels(info, frame, pixels, format)) {
        FILE* file = _wfopen(fromUtf8(stem + ".raw").c_str(), L"wb");
        if (!file)
            throw std::runtime_error("cannot write " + stem + ".raw");
        std::fwrite(frame.data(), 1, frame.size(), file);
        std::fclose(file);
        return;
    }
    writePng(fromUtf8(stem + ".png"), static_cast<UINT>(info.width), static_cast<UINT>(info.height), format,
             pixels.data(), static_cast<UINT>(info.stride));
}

} // namespace

int runGrab(Arguments& args) {
    const std::string word = args.positional("device");
    FormatOptions formatOptions;
    size_t frames = 5;
    std::string outDir = ".";
    bool byCallback = false;
    std::vector<ControlSetting> settings;
    int32_t output = FENWYR_OUTPUT_BGR24;
    int32_t stallMs = 0;
    while (!args.empty()) {
        if (formatOptions.take(args))
            continue;
        if (args.take("--set"))
            settings.push_back(parseControlSetting(args.value("--set")));
        else if (args.take("--frames"))
            frames = static_cast<size_t>(args.integer("--frames", 1, 10000));
        else if (args.take("--callback"))
            byCallback = true;
        else if (args.take("--output"))
            output = outputNamed(args.value("--output"));
        else if (args.take("--out"))
            outDir = args.value("--out");
        else if (args.take("--stall"))
            stallMs = stallOption(args);
        else
            args.unknown();
    }
    formatOptions.check();

    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    const FenwyrApi& api = session.api();
    ChosenFormat chosen;
    if (const int refused = chooseCapability(session, device, word, formatOptions, "grab", chosen))
        return refused;
    const ResolutionInfo& format = chosen.format;
    for (const ControlSetting& setting : settings)
        if (const int refused = applyControlSetting(api, device, setting))
            return refused;
    std::printf("device %d: %dx%d %s, %d bits, %.3f fps%s\n", device, format.width, format.height,
                pixelFormatName(format.pixelFormat, format.bitCount), format.bitCount, format.framesPerSecond,
                chosen.videoInfo2 ? ", VIDEOINFOHEADER2" : "");

    api.setOutputFormat(device, output);
    std::printf(byCallback ? "frames taken in the frame callback (setFrameCallbackEx)\n"
                           : "frames taken with grabFrame by a polling thread\n");

    Collector collector;
    collector.wanted = frames;
    Events events;
    api.setDeviceEventCallback(onEvent, &events);
    if (stallMs) {
        const int32_t supervised = api.setSupervision(device, stallMs, FENWYR_RECOVER_AUTO);
        if (supervised < 0) {
            api.setDeviceEventCallback(nullptr, nullptr);
            std::printf("camcli: device %d refused supervision (0x%08lX)\n", device, static_cast<unsigned long>(supervised));
            return 1;
        }
    }
    if (byCallback)
        api.setFrameCallbackEx(device, onFrame, &collector);
    const int32_t started = api.startCapture(device);
    if (started < 0) {
        api.setFrameCallbackEx(device, nullptr, nullptr);
        api.setDeviceEventCallback(nullptr, nullptr);
        std::printf("camcli: device %d did not start (0x%08lX)\n", device, static_cast<unsigned long>(started));
        return 1;
    }
    HRESULT polled = S_OK;
    std::thread poller;
    if (!byCallback)
        poller = std::thread([&] {
            polled = pollFrames(api, device, collector);
            collector.finish();
        });
    waitForFrames(collector, events, std::chrono::milliseconds(stallMs ? stallMs + 15000 : 5000));
    api.stopCapture(device);
    if (poller.joinable())
        poller.join();
    // Once these return the callbacks run no more, so the collector and the events may go.
    api.setFrameCallbackEx(device, nullptr, nullptr);
    api.setDeviceEventCallback(nullptr, nullptr);
    printEvents(events);
    StreamStats stats{};
    if (stallMs && api.getStreamStats(device, &stats) == S_OK)
        std::printf("stalls %d, recoveries %d, failed recovery attempts %d\n", stats.stalls, stats.recoveries,
                    stats.failedAttempts);
    if (polled != S_OK && polled != VFW_E_NOT_RUNNING)
        std::printf("camcli: grabFrame failed (0x%08lX)\n", static_cast<unsigned long>(polled));

    const size_t received = collector.frames.size();
    long long lost = 0, repeated = 0;
    // The device's own numbers are in its own bytes only.
    bool sequenced = received > 0 && output == FENWYR_OUTPUT_NATIVE;
    uint32_t previous = 0;
    for (size_t i = 0; i < received; ++i) {
        uint32_t sequence = 0;
        sequenced = sequenced && frameSequence(collector.infos[i], collector.frames[i], sequence);
        if (sequenced && i > 0) {
            if (sequence <= previous)
                ++repeated;
            else
                lost += sequence - previous - 1;
        }
        previous = sequence;
    }
    // fenwyr numbers every frame it receives in a run; a gap is frames that reached it but not camcli.
    unsigned long long missed = 0;
    for (size_t i = 1; i < received; ++i)
        if (collector.infos[i].sequence > collector.infos[i - 1].sequence)
            missed += collector.infos[i].sequence - collector.infos[i - 1].sequence - 1;
    const double seconds =
        received > 1 ? double(collector.infos.back().arrivalTime - collector.infos.front().arrivalTime) / 1e7 : 0;
    std::printf("frames received %zu of %zu, frame size %zu bytes, %.2f fps measured\n", received, frames,
                received ? collector.frames.front().size() : size_t(0), seconds > 0 ? (received - 1) / seconds : 0.0);
    if (sequenced)
        std::printf("frames lost %lld, repeated %lld (from the device's sequence numbers)\n", lost, repeated);
    if (received) {
        // The newest frame carries the newest of fenwyr's periodic samples of the device's count.
        const long long dropped = collector.infos.back().dropped;
        std::printf("frames missed %llu (gaps in fenwyr's frame sequence), ", missed);
        if (dropped < 0)
            std::printf("dropped by the device: not reported\n");
        else
            std::printf("dropped by the device %lld (its own count)\n", dropped);
    }

    for (size_t i = 0; i < received; ++i) {
        const FrameInfo& info = collector.infos[i];
        const char* name =
            output == FENWYR_OUTPUT_NATIVE ? pixelFormatName(format.pixelFormat, format.bitCount) : outputName(output);
        writeFrame(outDir + "/grab_" + std::to_string(device) + "_" + std::to_string(info.width) + "x" +
                       std::to_string(info.height) + "_" + name + "_" + std::to_string(i),
                   info, collector.frames[i]);
    }
    if (received)
        std::printf("%s files written to %s\n", output == FENWYR_OUTPUT_NATIVE ? "raw" : "PNG", outDir.c_str());
    return received == frames ? 0 : 1;
}
