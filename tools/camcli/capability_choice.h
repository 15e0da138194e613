#pragma once
#include <cstdint>
#include <string>

#include "arguments.h"
#include "video_session.h"

// How 'camcli grab' and 'camcli preview' pick a stream format: by index (--format K [--fps F]),
// or by what is wanted (--size WxH, --fps F, --pixel FOURCC), which fenwyr's chooseFormat serves.
struct FormatOptions {
    long long capability = -1;  // -1: none given
    double fps = -1;            // none given
    int32_t width = 0, height = 0;
    std::string pixel;          // a FOURCC, such as MJPG; empty: any

    // Takes one of the options above off args; false when the next word is none of them.
    bool take(Arguments& args);
    // Throws a UsageError for options that do not go together.
    void check() const;
    bool request() const { return capability < 0 && (width > 0 || !pixel.empty() || fps >= 0); }
};

// Selects the capability the options name or ask for on the open device, at their rate (none or
// 0: its default), and describes the format that then flows. A request prints the capability it
// chose and leaves its index in options.capability. Returns 0, or camcli's exit code after
// printing why: 2 for a rate the capability refuses or a request none serves, 1 when the device
// could not take it. A capability the device lacks is a UsageError. No format option keeps the
// current format.
struct ChosenFormat {
    ResolutionInfo format{};
    bool videoInfo2 = false;  // described by a VIDEOINFOHEADER2 (getFormats only)
};
int chooseCapability(VideoSession& session, int device, const std::string& word, FormatOptions& options,
                     const char* command, ChosenFormat& chosen);
