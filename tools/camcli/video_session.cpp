#include "video_session.h"

#include <objbase.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "arguments.h"

VideoSession::VideoSession() : dll_(L"fenwyr.dll"), api_(dll_) {
    api_.init();
    DeviceInfo* list = api_.listDevices();
    if (!list)
        throw std::runtime_error("fenwyr could not list the devices");
    for (int k = 0; k < 64; ++k) {
        if (list[k].index < 0)
            continue;
        // The identity has the name in UTF-8, which the list's code-page name may not hold.
        DeviceIdentity identity{};
        if (api_.getDeviceIdentity(list[k].index, &identity) == S_OK)
            devices_.push_back({list[k].index, identity.name, identity.path});
        else
            devices_.push_back({list[k].index, list[k].name, ""});
    }
    CoTaskMemFree(list);
}

VideoSession::~VideoSession() {
    api_.uninit();
}

int VideoSession::deviceArgument(const std::string& word) const {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(word.c_str(), &end, 10);
    const bool isIndex = !word.empty() && !*end && !errno;
    if (isIndex)
        for (const Device& d : devices_)
            if (d.index == n)
                return d.index;
    // A word that is no index in the table may still be a device's path or name (even "7").
    const int32_t found = api_.findDevice(word.c_str());
    if (found >= 0)
        return found;
    if (isIndex)
        throw UsageError("there is no device " + word + "; 'camcli devices' lists them");
    throw UsageError("no device has the path or name '" + word + "'; 'camcli devices' lists them");
}

int VideoSession::openArgument(const std::string& word) {
    const int device = deviceArgument(word);
    if (api_.openDevice(device))
        return device;
    std::printf("camcli: device %d could not be opened\n", device);
    return -1;
}

std::vector<ResolutionInfo> VideoSession::capabilities(int device) const {
    std::vector<ResolutionInfo> result;
    ResolutionInfo* block = api_.getResolutions(device);
    if (!block)
        return result;
    for (int i = 0; i < 1024; ++i)
        if (block[i].index >= 0)
            result.push_back(block[i]);
    CoTaskMemFree(block);
    return result;
}

ResolutionInfo VideoSession::currentFormat(int device) const {
    ResolutionInfo format{-1, 0, 0, 0, 0.0f, 0};
    if (ResolutionInfo* record = api_.getResolution(device)) {
        format = *record;
        CoTaskMemFree(record);
    }
    return format;
}

std::vector<FormatInfo> VideoSession::formatRanges(int device) const {
    // Asked twice: first how many there are, then the records.
    const int32_t count = api_.getFormats(device, nullptr, 0);
    if (count <= 0)
        return {};
    std::vector<FormatInfo> formats(static_cast<size_t>(count));
    const int32_t filled = api_.getFormats(device, formats.data(), count);
    if (filled < 0)
        return {};
    formats.resize(static_cast<size_t>(std::min(filled, count)));
    return formats;
}

std::vector<FormatInfo> stillFormats(const FenwyrApi& api, int device) {
    const int32_t count = api.getStillFormats(device, nullptr, 0);
    if (count <= 0)
        return {};
    std::vector<FormatInfo> formats(static_cast<size_t>(count));
    const int32_t filled = api.getStillFormats(device, formats.data(), count);
    formats.resize(filled < 0 ? 0 : static_cast<size_t>(filled < count ? filled : count));
    return formats;
}

std::string fpsText(double fps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", fps);
    std::string s = text;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.')
        s.pop_back();
    return s;
}

std::string fpsRangeText(const FormatInfo& f) {
    const std::string range = f.minFps == f.maxFps ? fpsText(f.minFps) : fpsText(f.minFps) + "-" + fpsText(f.maxFps);
    return range + " fps, default " + fpsText(f.defaultFps);
}

ResolutionInfo resolutionOf(const FormatInfo& f, double fps) {
    return ResolutionInfo{f.index,    f.width, f.height, f.bitCount, static_cast<float>(fps > 0 ? fps : f.defaultFps),
                          f.pixelFormat};
}

const char* pixelFormatName(int32_t code, int32_t bitCount) {
    switch (code) {
    case 1: return "RGB1";
    case 2: return "RGB8";
    case 3: return "RGB555";
    case 4: return "RGB565";
    case 5: return "RGB24";
    case 6: return "RGB32";
    case 7: return "MJPG";
    case 8: return "YUY2";
    // Subtypes without a code of their own: 12-bit frames are taken as NV12, the common one.
    default: return bitCount == 12 ? "NV12" : "other";
    }
}

const char* stateName(int32_t state) {
    switch (state) {
    case FENWYR_STATE_ABSENT: return "absent";
    case FENWYR_STATE_CLOSED: return "closed";
    case FENWYR_STATE_STOPPED: return "stopped";
    case FENWYR_STATE_RUNNING: return "running";
    case FENWYR_STATE_LOST: return "lost";
    case FENWYR_STATE_FAILED: return "failed";
    case FENWYR_STATE_STALLED: return "stalled";
    default: return "unknown";
    }
}

void waitDispatchingMessages(DWORD ms) {
    // Posted and timer messages too: fenwyr's automatic recovery comes as one of them.
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::string streamStatsText(const StreamStats& s) {
    char text[192];
    std::snprintf(text, sizeof text, "missed %lld, stalls %d, recoveries %d, failed attempts %d, dropped ",
                  static_cast<long long>(s.missed), s.stalls, s.recoveries, s.failedAttempts);
    return text + (s.dropped < 0 ? std::string("n/a") : std::to_string(s.dropped));
}

int32_t stallOption(Arguments& args) {
    const long long ms = args.integer("--stall", 0, 600000);
    if (ms > 0 && ms < 100)
        throw UsageError("--stall must be 0 (off) or 100 to 600000 ms, not " + std::to_string(ms));
    return static_cast<int32_t>(ms);
}
