#pragma once
#include <windows.h>
#include <dshow.h>

#include "frame_counters.h"

// IAMDroppedFrames over the device's frame counters. Hosts look for it on the capture filter or
// on its capture pin, so both derive from this; the deriving object supplies IUnknown.
class DroppedFramesReport : public IAMDroppedFrames {
public:
    explicit DroppedFramesReport(const FrameCounters& counters) : counters_(counters) {}

    STDMETHODIMP GetNumDropped(LONG* count) override;
    STDMETHODIMP GetNumNotDropped(LONG* count) override;
    STDMETHODIMP GetDroppedInfo(LONG size, LONG* numbers, LONG* copied) override;
    STDMETHODIMP GetAverageFrameSize(LONG* size) override;

protected:
    ~DroppedFramesReport() = default;

private:
    const FrameCounters& counters_;
};
