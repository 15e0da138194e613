#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "arguments.h"
#include "fenwyr_api.h"

// fenwyr from init to uninit, with the device list read once: what every video command needs.
class VideoSession {
public:
    VideoSession();
    ~VideoSession();
    VideoSession(const VideoSession&) = delete;
    VideoSession& operator=(const VideoSession&) = delete;

    const FenwyrApi& api() const { return api_; }
    struct Device {
        int index;
        std::string name;  // UTF-8
        std::string path;  // UTF-8; empty when the device has none
    };
    const std::vector<Device>& devices() const { return devices_; }

    // The device's index from a command-line word (index, path or name); a UsageError when no
    // such device exists.
    int deviceArgument(const std::string& word) const;
    // The device named by a command-line word, opened; -1 (after a message) when it cannot be.
    int openArgument(const std::string& word);

    // The device's capabilities (records with index >= 0) and its current format.
    std::vector<ResolutionInfo> capabilities(int device) const;
    ResolutionInfo currentFormat(int device) const;
    // The capabilities with their frame-rate ranges (getFormats); empty when the device has none
    // to report.
    std::vector<FormatInfo> formatRanges(int device) const;

private:
    Library dll_;
    FenwyrApi api_;
    std::vector<Device> devices_;
};

const char* pixelFormatName(int32_t code, int32_t bitCount);
// The still pin's capabilities (getStillFormats); empty for a device without a still pin.
std::vector<FormatInfo> stillFormats(const FenwyrApi& api, int device);
// A frame rate as people write it: 30, 7.5, 29.97 (up to three decimals, no trailing zeros).
std::string fpsText(double fps);
// A capability's rates in words, e.g. "5-60 fps, default 60".
std::string fpsRangeText(const FormatInfo& format);
// A getFormats record as a getResolutions record (height positive), at `fps` or its default rate.
ResolutionInfo resolutionOf(const FormatInfo& format, double fps = 0);
// A FENWYR_STATE_ value in words.
const char* stateName(int32_t state);
// Waits up to ms, running whatever messages come to this thread's windows meanwhile (fenwyr's
// automatic recovery among them).
void waitDispatchingMessages(DWORD ms);
// getStreamStats' counters after the frame count, e.g. "missed 0, stalls 1, recoveries 1, ...".
std::string streamStatsText(const StreamStats& stats);
// --stall MS: 0 (no stall detection) or 100 to 600000 ms; fenwyr refuses 1 to 99.
int32_t stallOption(Arguments& args);
