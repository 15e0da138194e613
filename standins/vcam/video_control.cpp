#include "video_control.h"

HRESULT VideoControl::answerFor(IPin* pin, LONG still, LONG* answer) {
    if (!pin || !answer)
        return E_POINTER;
    switch (roleOf(pin)) {
    case PinRole::still:
        *answer = still;
        return S_OK;
    case PinRole::capture:
        *answer = 0;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

STDMETHODIMP VideoControl::GetCaps(IPin* pin, LONG* flags) {
    return answerFor(pin, kStillCaps, flags);
}

STDMETHODIMP VideoControl::SetMode(IPin* pin, LONG mode) {
    if (!pin)
        return E_POINTER;
    const PinRole role = roleOf(pin);
    if (role == PinRole::foreign)
        return E_INVALIDARG;
    const LONG caps = role == PinRole::still ? kStillCaps : 0;
    if (mode & ~caps)
        return E_INVALIDARG;
    if (role == PinRole::capture)
        return S_OK;
    stillMode_ = mode & VideoControlFlag_ExternalTriggerEnable;
    // The trigger is a momentary action, not a mode that stays.
    if (mode & VideoControlFlag_Trigger)
        triggerStill();
    return S_OK;
}

STDMETHODIMP VideoControl::GetMode(IPin* pin, LONG* mode) {
    return answerFor(pin, stillMode_, mode);
}

STDMETHODIMP VideoControl::GetCurrentActualFrameRate(IPin*, LONGLONG*) { return E_NOTIMPL; }
STDMETHODIMP VideoControl::GetMaxAvailableFrameRate(IPin*, LONG, SIZE, LONGLONG*) { return E_NOTIMPL; }
STDMETHODIMP VideoControl::GetFrameRateList(IPin*, LONG, SIZE, LONG*, LONGLONG**) { return E_NOTIMPL; }
