#include "analog_decoder.h"

namespace {

// The 525-line systems; every other standard has 625 lines.
constexpr LONG k525Lines = AnalogVideo_NTSC_M | AnalogVideo_NTSC_M_J | AnalogVideo_NTSC_433 | AnalogVideo_PAL_M |
                           AnalogVideo_PAL_60;

}  // namespace

STDMETHODIMP AnalogDecoder::get_AvailableTVFormats(LONG* standards) {
    if (!standards)
        return E_POINTER;
    *standards = card_.standards();
    return S_OK;
}

STDMETHODIMP AnalogDecoder::put_TVFormat(LONG standard) {
    return card_.setStandard(standard);
}

STDMETHODIMP AnalogDecoder::get_TVFormat(LONG* standard) {
    if (!standard)
        return E_POINTER;
    *standard = card_.standard();
    return S_OK;
}

STDMETHODIMP AnalogDecoder::get_HorizontalLocked(LONG* locked) {
    if (!locked)
        return E_POINTER;
    *locked = presence_.noSignal() ? 0 : 1;
    return S_OK;
}

STDMETHODIMP AnalogDecoder::put_VCRHorizontalLocking(LONG vcrLocking) {
    vcrLocking_ = vcrLocking ? 1 : 0;
    return S_OK;
}

STDMETHODIMP AnalogDecoder::get_VCRHorizontalLocking(LONG* vcrLocking) {
    if (!vcrLocking)
        return E_POINTER;
    *vcrLocking = vcrLocking_;
    return S_OK;
}

STDMETHODIMP AnalogDecoder::get_NumberOfLines(LONG* lines) {
    if (!lines)
        return E_POINTER;
    const LONG standard = card_.standard();
    *lines = standard == 0 ? 0 : (standard & k525Lines) ? 525 : 625;
    return S_OK;
}

STDMETHODIMP AnalogDecoder::put_OutputEnable(LONG enable) {
    outputEnable_ = enable ? 1 : 0;
    return S_OK;
}

STDMETHODIMP AnalogDecoder::get_OutputEnable(LONG* enable) {
    if (!enable)
        return E_POINTER;
    *enable = outputEnable_;
    return S_OK;
}
