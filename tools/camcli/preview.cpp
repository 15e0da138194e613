// camcli preview: a device's live picture in a window. A thread of camcli's own polls grabFrame
// for the newest frame; the window's thread does everything else fenwyr asks of its init thread
// (open, start, stop, controls, property pages) and polls the device's state.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "capability_choice.h"
#include "commands.h"
#include "picture_thread.h"
#include "preview_snapshot.h"
#include "preview_status.h"
#include "preview_window.h"
#include "video_session.h"

const char* const kPreviewHelp =
    "usage: camcli preview D [--format K [--fps F] | [--size WxH] [--pixel FOURCC] [--fps F]]\n"
    "                        [--output bgra|gray] [--stall MS] [--seconds N]\n"
    "       camcli preview --industrial [--seconds N]\n"
    "Shows device D's live picture in a window: the newest frame, taken with grabFrame by a\n"
    "thread of camcli's own. The status line shows the device's name, the picture's size, the\n"
    "device's pixel format, the frame rate asked for and the one measured, the frames camcli\n"
    "missed (gaps in fenwyr's frame sequence), the frames the device reports dropped, 'stalled'\n"
    "while no frame comes and the recoveries fenwyr made.\n"
    "--format, --size, --pixel and --fps choose a capability and its rate as 'camcli grab' does;\n"
    "--output gray shows the luma only (default bgra, the colour picture).\n"
    "Keys: s writes the picture shown as a PNG file into the working folder, p opens the driver's\n"
    "property pages, + and - step the brightness when the device has that control, q ends.\n"
    "--stall MS (100 to 600000, default 2000; 0: off): a device that sends no frame for MS shows\n"
    "'stalled' over its last picture, and fenwyr brings it back by itself as it was (format,\n"
    "output, brightness): after a stall, a stream error or, once it returns, a loss.\n"
    "An unplugged device shows 'device lost' over its last picture; the picture resumes when the\n"
    "device is back (with --stall 0, camcli opens it again itself).\n"
    "--industrial shows the industrial camera's 8-bit grey frames instead.\n"
    "Ends when the window is closed, at q or after N seconds, with exit code 0.\n";

namespace {

using Clock = std::chrono::steady_clock;
constexpr HRESULT kTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
constexpr HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr HRESULT kUnsupported = static_cast<HRESULT>(0x80070490L);  // E_PROP_ID_UNSUPPORTED

struct Options {
    std::string word;
    FormatOptions format;
    int32_t output = FENWYR_OUTPUT_BGRA32;
    double seconds = 0;
    int32_t stallMs = 2000;
};

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// Printed as it happens, for whoever runs camcli from a script.
void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// grabFrame's newest frame as a picture; waits at most 100 ms.
PictureThread::Take grabber(const FenwyrApi& api, int device) {
    auto capacity = std::make_shared<size_t>(640 * 480 * 4);
    return [&api, device, capacity](Picture& picture, FrameNote& note) {
        if (picture.pixels.size() < *capacity)
            picture.pixels.resize(*capacity);
        FrameInfo info{};
        const HRESULT hr = api.grabFrame(device, picture.pixels.data(), static_cast<int32_t>(picture.pixels.size()),
                                         &info, 100);
        if (hr == kTooSmall) {
            *capacity = static_cast<size_t>(info.length);  // the frame waits for the next call
            return false;
        }
        if (hr != S_OK) {
            // Not running (stopped, lost, being opened again): ask again a little later.
            if (hr != kTimedOut)
                Sleep(20);
            return false;
        }
        const int bytes = info.pixelFormat == FENWYR_PIXEL_GRAY8 ? 1 : info.pixelFormat == 6 /* BGRA */ ? 4 : 0;
        if (!bytes || info.length < info.width * info.height * bytes)
            return false;
        picture.width = info.width;
        picture.height = info.height;
        picture.bytesPerPixel = bytes;
        note.numbered = true;
        note.sequence = info.sequence;
        note.dropped = info.dropped;
        return true;
    };
}

class VideoPreview : public PreviewHost {
public:
    VideoPreview(VideoSession& session, int device, const Options& options, const ChosenFormat& chosen)
        : session_(session), api_(session.api()), device_(device), options_(options), format_(chosen.format),
          window_(titleFor(session, device, ""), chosen.format.width, std::abs(chosen.format.height), *this) {
        for (const VideoSession::Device& d : session.devices())
            if (d.index == device) {
                name_ = d.name;
                path_ = d.path;
            }
        requestedFps_ = options.format.fps > 0 ? options.format.fps : format_.framesPerSecond;
        updateStatus();
    }

    int run() {
        // The window's message loop on this, the init thread, runs fenwyr's recovery attempts.
        if (options_.stallMs) {
            const int32_t supervised = api_.setSupervision(device_, options_.stallMs, FENWYR_RECOVER_AUTO);
            if (supervised < 0) {
                std::printf("camcli: device %d refused supervision (0x%08lX)\n", device_,
                            static_cast<unsigned long>(supervised));
                return 1;
            }
        }
        const int32_t started = api_.startCapture(device_);
        if (started < 0) {
            std::printf("camcli: device %d did not start (0x%08lX)\n", device_, static_cast<unsigned long>(started));
            return 1;
        }
        thread_.reset(new PictureThread(grabber(api_, device_), window_));
        say("previewing device " + std::to_string(device_) + "; keys: s save, p properties, +/- brightness, q quit");
        window_.run(options_.seconds);
        // The thread's waits are short: it ends before the device stops under it.
        thread_->stop();
        api_.stopCapture(device_);
        return 0;
    }

    void onKey(char key) override {
        switch (key) {
        case 's': note(snapshot(window_.shown(), "preview_" + std::to_string(device_))); break;
        case 'p': {
            // The dialog is modal and keeps the window painting; a second p waits for it to close.
            if (inDialog_ || lost_)
                break;
            inDialog_ = true;
            const HRESULT hr = api_.showFilterProperties(device_);
            inDialog_ = false;
            if (hr != S_OK)
                note("no property pages (" + hex(hr) + ")");
            break;
        }
        case '+':
        case '-': stepBrightness(key == '+' ? 1 : -1); break;
        }
        updateStatus();
    }

    void onTick() override {
        const int32_t state = api_.getDeviceState(device_);
        const unsigned long long frames = thread_ ? thread_->stats().frames : 0;
        const bool supervised = options_.stallMs > 0;
        if (!lost_ && (state == FENWYR_STATE_LOST || state == FENWYR_STATE_FAILED)) {
            lost_ = true;
            // Supervised, fenwyr brings the device back: camcli only waits for its frames.
            reopened_ = supervised;
            framesAtReopen_ = frames;
            nextTry_ = Clock::now() + std::chrono::milliseconds(500);
            lostWhat_ = state == FENWYR_STATE_LOST ? "device lost" : "device failed";
            say(lostWhat_ + " (" + std::to_string(device_) + ")");
        }
        // "stalled" stays until the picture moves again, through attempts that bring no frame. The
        // state says it only until the first attempt, which runs at once in this loop: count them.
        StreamStats counters{};
        const int32_t stalls = supervised && api_.getStreamStats(device_, &counters) == S_OK ? counters.stalls : 0;
        const bool newStall = stalls > stallsSeen_;
        stallsSeen_ = stalls;
        if (!stalled_ && (newStall || state == FENWYR_STATE_STALLED)) {
            stalled_ = true;
            framesAtStall_ = frames;
            say("device stalled (" + std::to_string(device_) + ")");
        } else if (stalled_ && state == FENWYR_STATE_RUNNING && frames > framesAtStall_) {
            stalled_ = false;
            say("device recovered (" + std::to_string(device_) + ")");
        }
        if (lost_ && reopened_ && frames > framesAtReopen_ && state == FENWYR_STATE_RUNNING) {
            lost_ = false;
            say("device back (" + std::to_string(device_) + ")");
        } else if (lost_ && !supervised && !inDialog_ && Clock::now() >= nextTry_) {
            // Until frames come again, open it once a second: a device may be listed again before
            // it can stream, and a run started while it was away stays silent.
            nextTry_ = Clock::now() + std::chrono::seconds(1);
            reopen(frames);
        }
        showTrouble();
        updateStatus();
    }

private:
    static std::string titleFor(const VideoSession& session, int device, const std::string& trouble) {
        std::string name = std::to_string(device);
        for (const VideoSession::Device& d : session.devices())
            if (d.index == device)
                name = d.name;
        return "camcli preview: " + name + (trouble.empty() ? "" : " - " + trouble);
    }

    // What keeps the picture still, over it and in the title.
    void showTrouble() {
        const std::string trouble = lost_ ? lostWhat_ : stalled_ ? "stalled" : "";
        if (trouble == shownTrouble_)
            return;
        shownTrouble_ = trouble;
        window_.setOverlay(trouble);
        window_.setTitle(titleFor(session_, device_, trouble));
    }

    void reopen(unsigned long long frames) {
        api_.refreshDevices();
        const int32_t found = api_.findDevice(path_.empty() ? name_.c_str() : path_.c_str());
        if (found != device_)
            return;
        framesAtReopen_ = frames;
        reopened_ = true;
        if (!api_.openDevice(device_))
            return;
        const FormatOptions& format = options_.format;
        if (format.capability >= 0)
            api_.setFormat(device_, static_cast<int32_t>(format.capability), format.fps > 0 ? format.fps : 0);
        // A new bind starts at the device's defaults: the brightness chosen here comes back.
        if (brightness_ != kNoBrightness)
            api_.setControl(device_, FENWYR_CONTROL_BRIGHTNESS, brightness_, FENWYR_CONTROL_MANUAL);
        api_.startCapture(device_);
    }

    void stepBrightness(int direction) {
        ControlInfo info{};
        HRESULT hr = api_.getControl(device_, FENWYR_CONTROL_BRIGHTNESS, &info);
        if (hr == kUnsupported) {
            note("the device has no brightness control");
            return;
        }
        if (hr == S_OK) {
            long long value = static_cast<long long>(info.value) + direction * (info.step > 0 ? info.step : 1);
            value = value < info.min ? info.min : value > info.max ? info.max : value;
            hr = api_.setControl(device_, FENWYR_CONTROL_BRIGHTNESS, static_cast<int32_t>(value), FENWYR_CONTROL_MANUAL);
            if (hr == S_OK)
                hr = api_.getControl(device_, FENWYR_CONTROL_BRIGHTNESS, &info);
            if (hr == S_OK)
                brightness_ = info.value;
        }
        note(hr == S_OK ? "brightness " + std::to_string(info.value) : "brightness: " + hex(hr));
    }

    void note(const std::string& text) { note_.set(text); }

    void updateStatus() {
        const PreviewStats stats = thread_ ? thread_->stats() : PreviewStats{};
        const Picture& shown = window_.shown();
        const int width = shown.width ? shown.width : format_.width;
        const int height = shown.height ? shown.height : std::abs(format_.height);
        char line[512];
        std::snprintf(line, sizeof line, "%s   %dx%d %s   %s fps requested, %.1f measured   missed %llu   dropped %s",
                      name_.c_str(), width, height, pixelFormatName(format_.pixelFormat, format_.bitCount),
                      fpsText(requestedFps_).c_str(), stats.fps, stats.missed,
                      stats.dropped < 0 ? "n/a" : std::to_string(stats.dropped).c_str());
        std::string status = line;
        StreamStats counters{};
        if (options_.stallMs && api_.getStreamStats(device_, &counters) == S_OK)
            status += std::string(stalled_ ? "   stalled" : "") + "   recoveries " + std::to_string(counters.recoveries);
        window_.setStatus(note_.after(status, stats));
    }

    VideoSession& session_;
    const FenwyrApi& api_;
    const int device_;
    const Options options_;
    const ResolutionInfo format_;
    std::string name_, path_;
    double requestedFps_ = 0;
    PreviewWindow window_;
    std::unique_ptr<PictureThread> thread_;  // declared after the window: it ends first
    bool inDialog_ = false;
    bool lost_ = false;
    bool reopened_ = false;
    bool stalled_ = false;
    int32_t stallsSeen_ = 0;
    unsigned long long framesAtStall_ = 0;
    std::string lostWhat_, shownTrouble_;
    unsigned long long framesAtReopen_ = 0;
    static constexpr int32_t kNoBrightness = INT32_MIN;
    int32_t brightness_ = kNoBrightness;  // as set with + and -
    Clock::time_point nextTry_;
    StatusNote note_;
};

double secondsOption(Arguments& args) {
    const double seconds = args.number("--seconds");
    if (seconds <= 0)
        throw UsageError("--seconds must be more than 0");
    return seconds;
}

} // namespace

int runPreview(Arguments& args) {
    if (args.take("--industrial")) {
        double seconds = 0;
        while (!args.empty()) {
            if (args.take("--seconds"))
                seconds = secondsOption(args);
            else
                args.unknown();
        }
        return runIndustrialPreview(seconds);
    }
    Options options;
    options.word = args.positional("device");
    while (!args.empty()) {
        if (options.format.take(args))
            continue;
        if (args.take("--output")) {
            const std::string output = args.value("--output");
            if (output != "bgra" && output != "gray")
                throw UsageError("--output takes bgra or gray, not " + output);
            options.output = output == "gray" ? FENWYR_OUTPUT_GRAY8 : FENWYR_OUTPUT_BGRA32;
        } else if (args.take("--seconds")) {
            options.seconds = secondsOption(args);
        } else if (args.take("--stall")) {
            options.stallMs = stallOption(args);
        } else {
            args.unknown();
        }
    }
    options.format.check();

    VideoSession session;
    const int device = session.openArgument(options.word);
    if (device < 0)
        return 1;
    ChosenFormat chosen;
    if (const int refused = chooseCapability(session, device, options.word, options.format, "preview", chosen))
        return refused;
    session.api().setOutputFormat(device, options.output);
    VideoPreview preview(session, device, options, chosen);
    return preview.run();
}
