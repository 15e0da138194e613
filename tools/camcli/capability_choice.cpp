#include "capability_choice.h"

#include <windows.h>

#include <cstdio>

bool FormatOptions::take(Arguments& args) {
    if (args.take("--format")) {
        capability = args.integer("--format", 0, 1023);
    } else if (args.take("--fps")) {
        fps = args.number("--fps");
        if (fps < 0)
            throw UsageError("--fps must be 0 (the default rate) or more");
    } else if (args.take("--size")) {
        const std::string text = args.value("--size");
        int w = 0, h = 0;
        char end = 0;
        if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &end) != 2 || w <= 0 || h <= 0)
            throw UsageError("--size must be WIDTHxHEIGHT, such as 1280x720, not '" + text + "'");
        width = w;
        height = h;
    } else if (args.take("--pixel")) {
        pixel = args.value("--pixel");
        if (pixel.empty() || pixel.size() > 4)
            throw UsageError("--pixel must be a FOURCC of 1 to 4 characters, such as MJPG, not '" + pixel + "'");
    } else {
        return false;
    }
    return true;
}

void FormatOptions::check() const {
    if (capability >= 0 && (width > 0 || !pixel.empty()))
        throw UsageError("--size and --pixel ask for a format: give them or --format K, not both");
}

namespace {

// The FOURCC as FormatInfo.fourcc holds it, padded with spaces as the platform's are.
int32_t fourccOf(const std::string& pixel) {
    if (pixel.empty())
        return 0;
    std::string padded = pixel;
    padded.resize(4, ' ');
    uint32_t code = 0;
    for (int i = 3; i >= 0; --i)
        code = code << 8 | static_cast<unsigned char>(padded[static_cast<size_t>(i)]);
    return static_cast<int32_t>(code);
}

std::string requestText(const FormatOptions& options) {
    std::string text = options.width > 0 ? std::to_string(options.width) + "x" + std::to_string(options.height) : "any size";
    text += options.pixel.empty() ? "" : " " + options.pixel;
    if (options.fps > 0)
        text += " at " + fpsText(options.fps) + " fps";
    return text;
}

}  // namespace

int chooseCapability(VideoSession& session, int device, const std::string& word, FormatOptions& options,
                     const char* command, ChosenFormat& chosenFormat) {
    const FenwyrApi& api = session.api();
    if (options.request()) {
        const double fps = options.fps > 0 ? options.fps : 0;
        const int32_t index = api.chooseFormat(device, options.width, options.height, fps, fourccOf(options.pixel));
        if (index < 0) {
            std::printf("camcli %s: no capability of device %d serves %s; 'camcli formats %s' lists them\n", command,
                        device, requestText(options).c_str(), word.c_str());
            return 2;
        }
        std::printf("capability %d serves %s\n", index, requestText(options).c_str());
        options.capability = index;
    }
    const long long capability = options.capability;
    const double fps = options.fps;
    // A capability only getFormats lists (VIDEOINFOHEADER2) has no getResolution record: its
    // frames are described by getFormats and by their FrameInfo.
    const FormatInfo* videoInfo2 = nullptr;
    const std::vector<FormatInfo> ranges = session.formatRanges(device);
    if (capability >= 0) {
        bool offered = false;
        for (const ResolutionInfo& f : session.capabilities(device))
            offered = offered || f.index == capability;
        for (const FormatInfo& r : ranges)
            if (!offered && r.index == capability)
                videoInfo2 = &r;
        offered = offered || videoInfo2;
        if (!offered)
            throw UsageError("device " + word + " has no capability " + std::to_string(capability) +
                             "; 'camcli formats " + word + "' lists them");
        const int32_t chosen = static_cast<int32_t>(capability);
        const HRESULT hr = api.setFormat(device, chosen, fps > 0 ? fps : 0);
        if (hr == E_INVALIDARG) {
            std::string rates = "other rates";
            for (const FormatInfo& f : ranges)
                if (f.index == chosen)
                    rates = fpsRangeText(f);
            std::printf("camcli %s: capability %d of device %d refused %s fps: it takes %s\n", command, chosen, device,
                        fpsText(fps).c_str(), rates.c_str());
            return 2;
        }
        if (hr != S_OK) {
            std::printf("camcli %s: device %d could not take capability %d (0x%08lX)\n", command, device, chosen,
                        static_cast<unsigned long>(hr));
            return 1;
        }
    }
    chosenFormat.format = videoInfo2 ? resolutionOf(*videoInfo2, fps) : session.currentFormat(device);
    chosenFormat.videoInfo2 = videoInfo2 != nullptr;
    return 0;
}
