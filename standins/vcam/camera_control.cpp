#include "camera_control.h"

STDMETHODIMP CameraControl::GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue,
                                     LONG* caps) {
    return controls_.getRange(ControlFamily::CameraControl, property, min, max, step, defaultValue, caps);
}

STDMETHODIMP CameraControl::Set(LONG property, LONG value, LONG flags) {
    return controls_.set(ControlFamily::CameraControl, property, value, flags);
}

STDMETHODIMP CameraControl::Get(LONG property, LONG* value, LONG* flags) {
    return controls_.get(ControlFamily::CameraControl, property, value, flags);
}
