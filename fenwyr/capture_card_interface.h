#pragma once
#include <wrl/client.h>

#include "capture_device.h"

// A capture card's crossbar or decoder: on the capture filter itself, else upstream of it (a WDM
// card's crossbar filter, which Windows' capture graph builder puts before the capture filter).
// Null when the open graph has none.
template <class Interface>
Microsoft::WRL::ComPtr<Interface> captureCardInterface(CaptureDevice& device, REFIID iid) {
    Microsoft::WRL::ComPtr<Interface> found;
    if (!device.captureFilter)
        return found;
    if (SUCCEEDED(device.captureFilter->QueryInterface(iid, &found)) && found)
        return found;
    found.Reset();
    if (device.captureBuilder &&
        SUCCEEDED(device.captureBuilder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, device.captureFilter.Get(), iid,
                                                       &found)) &&
        found)
        return found;
    return nullptr;
}
