#include "capability_choice.h"

#include <windows.h>

#include <cstdio>

#include "arguments.h"

int chooseCapability(VideoSession& session, int device, const std::string& word, long long capability, double fps,
                     const char* command, ChosenFormat& chosenFormat) {
    const FenwyrApi& api = session.api();
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
