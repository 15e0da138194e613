// camcli watch: capture from one device and report what happens to it as it happens, the way a
// host learns it: device events by callback, the device's state by polling.
#include <windows.h>

#include <conio.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "video_session.h"

const char* const kWatchHelp =
    "usage: camcli watch D [--seconds N] [--stall MS]\n"
    "Opens device D (index, path or name), captures from it and prints, as they happen and with\n"
    "the seconds since the start: each device event (lost; error with its HRESULT; returned;\n"
    "stream complete; stalled, with the milliseconds without a frame; recovered, with the attempts\n"
    "it took), each change of the device's state (polled every 50 ms) and, every second, the\n"
    "frames received so far with fenwyr's counters (getStreamStats): frames missed, stalls,\n"
    "recoveries, failed recovery attempts and the device's own dropped count.\n"
    "--stall MS (100 to 600000; 0, the default: off) has fenwyr report a stall after MS without a\n"
    "frame and bring the device back by itself (setSupervision with FENWYR_RECOVER_AUTO): after a\n"
    "stall, a stream error or a loss, once the device returns.\n"
    "Ends after N seconds (default 10) or, on a console, at a key press (exit code 0 for both);\n"
    "without --stall also when the device is lost (exit code 3).\n";

namespace {

using Clock = std::chrono::steady_clock;

struct Event {
    double at;
    int32_t device, event, detail;
};

// What the streaming and event threads hand to the main thread, which does all the printing.
struct Watch {
    const Clock::time_point start = Clock::now();
    std::atomic<unsigned long long> frames{0};
    std::mutex lock;
    std::vector<Event> events;

    double seconds() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
    std::vector<Event> takeEvents() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Event> taken;
        taken.swap(events);
        return taken;
    }
};

void onFrame(const uint8_t*, const FrameInfo*, void* watch) {
    ++static_cast<Watch*>(watch)->frames;
}

void onEvent(int32_t device, int32_t event, int32_t detail, void* userData) {
    auto* watch = static_cast<Watch*>(userData);
    const double at = watch->seconds();  // when it came, not when the main thread prints it
    std::lock_guard<std::mutex> guard(watch->lock);
    watch->events.push_back({at, device, event, detail});
}

// Flushed line by line: a script or a log reads the report while it runs.
void report(double at, const std::string& text) {
    std::printf("%8.3f s  %s\n", at, text.c_str());
    std::fflush(stdout);
}

std::string eventText(const Event& e) {
    char text[96];
    const int d = e.device;
    switch (e.event) {
    case FENWYR_DEVICE_LOST: std::snprintf(text, sizeof text, "event: device %d lost", d); break;
    case FENWYR_DEVICE_ERROR:
        std::snprintf(text, sizeof text, "event: device %d error 0x%08lX", d, static_cast<unsigned long>(e.detail));
        break;
    case FENWYR_DEVICE_RETURNED: std::snprintf(text, sizeof text, "event: device %d returned", d); break;
    case FENWYR_STREAM_COMPLETE: std::snprintf(text, sizeof text, "event: device %d stream complete", d); break;
    case FENWYR_DEVICE_STALLED:
        std::snprintf(text, sizeof text, "event: device %d stalled, no frame for %d ms", d, e.detail);
        break;
    case FENWYR_DEVICE_RECOVERED:
        if (e.detail == 0)
            std::snprintf(text, sizeof text, "event: device %d resumed by itself", d);
        else
            std::snprintf(text, sizeof text, "event: device %d recovered after %d attempt%s", d, e.detail,
                          e.detail == 1 ? "" : "s");
        break;
    default: std::snprintf(text, sizeof text, "event: device %d, code %d, detail %d", d, e.event, e.detail);
    }
    return text;
}

bool stdinIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The callbacks point at the watch: they are taken back before it goes, whatever ends the run.
class Subscription {
public:
    Subscription(const FenwyrApi& api, int device, Watch& watch) : api_(api), device_(device) {
        api_.setDeviceEventCallback(onEvent, &watch);
        api_.setFrameCallbackEx(device_, onFrame, &watch);
    }
    ~Subscription() {
        api_.stopCapture(device_);
        api_.setFrameCallbackEx(device_, nullptr, nullptr);
        api_.setDeviceEventCallback(nullptr, nullptr);
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

private:
    const FenwyrApi& api_;
    int device_;
};

} // namespace

int runWatch(Arguments& args) {
    const std::string word = args.positional("device");
    long long limit = 10;
    int32_t stallMs = 0;
    while (!args.empty()) {
        if (args.take("--seconds"))
            limit = args.integer("--seconds", 1, 24 * 3600);
        else if (args.take("--stall"))
            stallMs = stallOption(args);
        else
            args.unknown();
    }

    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    const FenwyrApi& api = session.api();
    const bool console = stdinIsConsole();
    std::printf("watching device %d for %lld s%s\n", device, limit, console ? "; press a key to stop" : "");
    if (stallMs) {
        const int32_t supervised = api.setSupervision(device, stallMs, FENWYR_RECOVER_AUTO);
        if (supervised < 0) {
            std::printf("camcli: device %d refused supervision (0x%08lX)\n", device, static_cast<unsigned long>(supervised));
            return 1;
        }
        std::printf("a stall is %d ms without a frame; fenwyr recovers the device by itself\n", stallMs);
    }

    Watch watch;
    enum class End { time, key, lost } end = End::time;
    {
        const Subscription subscription(api, device, watch);
        const int32_t started = api.startCapture(device);
        if (started < 0) {
            std::printf("camcli: device %d did not start (0x%08lX)\n", device, static_cast<unsigned long>(started));
            return 1;
        }
        int32_t state = -1;
        double lostSince = -1, nextCount = 1;
        bool lostEvent = false;
        for (;;) {
            for (const Event& e : watch.takeEvents()) {
                report(e.at, eventText(e));
                lostEvent = lostEvent || (e.device == device && e.event == FENWYR_DEVICE_LOST);
            }
            const double now = watch.seconds();
            const int32_t current = api.getDeviceState(device);
            if (current != state) {
                report(now, std::string("state: ") + stateName(current));
                state = current;
            }
            // Supervised, fenwyr brings a lost device back once it returns: watch on.
            if (!stallMs && state == FENWYR_STATE_LOST && lostSince < 0)
                lostSince = now;
            // fenwyr sets the state just before it reports the event: give the event a moment to
            // be printed, but end on the state alone if none comes.
            if ((!stallMs && lostEvent) || (lostSince >= 0 && now - lostSince > 0.5)) {
                end = End::lost;
                break;
            }
            if (now >= nextCount) {
                StreamStats stats{};
                std::string counters;
                if (api.getStreamStats(device, &stats) == S_OK)
                    counters = ", " + streamStatsText(stats);
                report(now, "frames: " + std::to_string(watch.frames.load()) + counters);
                nextCount += 1;
            }
            if (now >= static_cast<double>(limit))
                break;
            if (console && _kbhit()) {
                _getch();
                end = End::key;
                break;
            }
            // This is the init thread: fenwyr's recovery attempts run in this wait.
            waitDispatchingMessages(50);
        }
    }
    // Events that came while capture stopped.
    for (const Event& e : watch.takeEvents())
        report(e.at, eventText(e));
    const char* why = end == End::lost ? "the device was lost" : end == End::key ? "a key was pressed" : "time is up";
    report(watch.seconds(), "ended: " + std::string(why) + ", " + std::to_string(watch.frames.load()) + " frames");
    return end == End::lost ? 3 : 0;
}
