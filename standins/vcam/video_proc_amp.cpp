#include "video_proc_amp.h"

STDMETHODIMP VideoProcAmp::GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue,
                                    LONG* caps) {
    return controls_.getRange(ControlFamily::VideoProcAmp, property, min, max, step, defaultValue, caps);
}

STDMETHODIMP VideoProcAmp::Set(LONG property, LONG value, LONG flags) {
    return controls_.set(ControlFamily::VideoProcAmp, property, value, flags);
}

STDMETHODIMP VideoProcAmp::Get(LONG property, LONG* value, LONG* flags) {
    return controls_.get(ControlFamily::VideoProcAmp, property, value, flags);
}
