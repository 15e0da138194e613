#pragma once
#include <windows.h>
#include <dshow.h>

#include "device_controls.h"

// IAMVideoProcAmp over the device's settings (brightness, contrast, ..., gain). The filter
// derives from it and answers for it only when the device has such settings; the filter
// supplies IUnknown.
class VideoProcAmp : public IAMVideoProcAmp {
public:
    explicit VideoProcAmp(DeviceControls& controls) : controls_(controls) {}

    STDMETHODIMP GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue,
                          LONG* caps) override;
    STDMETHODIMP Set(LONG property, LONG value, LONG flags) override;
    STDMETHODIMP Get(LONG property, LONG* value, LONG* flags) override;

protected:
    ~VideoProcAmp() = default;

private:
    DeviceControls& controls_;
};
