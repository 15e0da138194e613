#pragma once
#include <windows.h>
#include <dshow.h>

#include "device_controls.h"

// IAMCameraControl over the device's settings (pan, tilt, ..., exposure, iris, focus). The filter
// derives from it and answers for it only when the device has such settings; the filter
// supplies IUnknown.
class CameraControl : public IAMCameraControl {
public:
    explicit CameraControl(DeviceControls& controls) : controls_(controls) {}

    STDMETHODIMP GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue,
                          LONG* caps) override;
    STDMETHODIMP Set(LONG property, LONG value, LONG flags) override;
    STDMETHODIMP Get(LONG property, LONG* value, LONG* flags) override;

protected:
    ~CameraControl() = default;

private:
    DeviceControls& controls_;
};
