#pragma once
#include <string>

#include "video_session.h"

// Selects capability `capability` of the open device at `fps` (0 or less: its default), as
// 'camcli grab' and 'camcli preview' take them, and describes the format that then flows.
// Returns 0, or camcli's exit code after printing why: 2 for a rate the capability refuses, 1
// when the device could not take it. A capability the device lacks is a UsageError.
// `capability` -1 keeps the current format.
struct ChosenFormat {
    ResolutionInfo format{};
    bool videoInfo2 = false;  // described by a VIDEOINFOHEADER2 (getFormats only)
};
int chooseCapability(VideoSession& session, int device, const std::string& word, long long capability, double fps,
                     const char* command, ChosenFormat& chosen);
