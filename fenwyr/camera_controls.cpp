#include "camera_controls.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int32_t kLastProcAmp = FENWYR_CONTROL_GAIN;
constexpr int32_t kFirstCameraControl = FENWYR_CONTROL_PAN;
constexpr int32_t kLastCameraControl = FENWYR_CONTROL_FOCUS;

bool known(int32_t control) {
    return (control >= 0 && control <= kLastProcAmp) || (control >= kFirstCameraControl && control <= kLastCameraControl);
}

// The two interfaces take the same calls with their own property numbers: one shape for both.
class Control {
public:
    Control(CaptureDevice& device, int32_t control) {
        if (control <= kLastProcAmp) {
            property_ = control;
            available_ = SUCCEEDED(device.captureFilter->QueryInterface(IID_IAMVideoProcAmp, &procAmp_));
        } else {
            property_ = control - kFirstCameraControl;
            available_ = SUCCEEDED(device.captureFilter->QueryInterface(IID_IAMCameraControl, &cameraControl_));
        }
    }
    bool available() const { return available_; }
    HRESULT range(long& min, long& max, long& step, long& defaultValue, long& caps) {
        return procAmp_ ? procAmp_->GetRange(property_, &min, &max, &step, &defaultValue, &caps)
                        : cameraControl_->GetRange(property_, &min, &max, &step, &defaultValue, &caps);
    }
    HRESULT get(long& value, long& flags) {
        return procAmp_ ? procAmp_->Get(property_, &value, &flags) : cameraControl_->Get(property_, &value, &flags);
    }
    HRESULT set(long value, long flags) {
        return procAmp_ ? procAmp_->Set(property_, value, flags) : cameraControl_->Set(property_, value, flags);
    }

private:
    long property_ = 0;
    bool available_ = false;
    ComPtr<IAMVideoProcAmp> procAmp_;
    ComPtr<IAMCameraControl> cameraControl_;
};

}  // namespace

namespace camera_controls {

HRESULT get(CaptureDevice& device, int32_t control, ControlInfo& info) {
    if (!known(control))
        return E_INVALIDARG;
    if (!device.built)
        return E_POINTER;
    Control knob(device, control);
    if (!knob.available())
        return E_PROP_ID_UNSUPPORTED;
    long min = 0, max = 0, step = 0, defaultValue = 0, caps = 0, value = 0, flags = 0;
    HRESULT hr = knob.range(min, max, step, defaultValue, caps);
    if (FAILED(hr))
        return hr;
    hr = knob.get(value, flags);
    if (FAILED(hr))
        return hr;
    info = ControlInfo{static_cast<int32_t>(min),  static_cast<int32_t>(max),   static_cast<int32_t>(step),
                       static_cast<int32_t>(defaultValue), static_cast<int32_t>(caps), static_cast<int32_t>(value),
                       static_cast<int32_t>(flags)};
    return S_OK;
}

HRESULT set(CaptureDevice& device, int32_t control, int32_t value, int32_t flags) {
    if (!known(control) || (flags != FENWYR_CONTROL_AUTO && flags != FENWYR_CONTROL_MANUAL))
        return E_INVALIDARG;
    ControlInfo info{};
    const HRESULT hr = get(device, control, info);
    if (FAILED(hr))
        return hr;
    if (!(info.capsFlags & flags))
        return E_INVALIDARG;
    if (flags == FENWYR_CONTROL_AUTO) {
        // The device chooses in auto mode; the current value keeps the call within its range.
        value = info.value;
    } else {
        const int64_t offset = static_cast<int64_t>(value) - info.min;
        if (value < info.min || value > info.max || (info.step > 0 && offset % info.step != 0))
            return E_INVALIDARG;
    }
    const HRESULT set = Control(device, control).set(value, flags);
    // A recovered device gets it back.
    if (SUCCEEDED(set))
        device.choices.controls[control] = {value, flags};
    return set;
}

}  // namespace camera_controls
