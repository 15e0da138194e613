#include "video_standard.h"

#include "capture_card_interface.h"

using Microsoft::WRL::ComPtr;

namespace {

HRESULT findDecoder(CaptureDevice& device, ComPtr<IAMAnalogVideoDecoder>& decoder) {
    if (!device.built)
        return E_POINTER;
    decoder = captureCardInterface<IAMAnalogVideoDecoder>(device, IID_IAMAnalogVideoDecoder);
    return decoder ? S_OK : E_PROP_ID_UNSUPPORTED;
}

}  // namespace

namespace video_standard {

HRESULT get(CaptureDevice& device, int32_t& available, int32_t& current, int32_t& locked) {
    ComPtr<IAMAnalogVideoDecoder> decoder;
    HRESULT hr = findDecoder(device, decoder);
    if (FAILED(hr))
        return hr;
    long offered = 0, now = 0, horizontal = 0;
    hr = decoder->get_AvailableTVFormats(&offered);
    if (SUCCEEDED(hr))
        hr = decoder->get_TVFormat(&now);
    if (FAILED(hr))
        return hr;
    available = static_cast<int32_t>(offered);
    current = static_cast<int32_t>(now);
    locked = SUCCEEDED(decoder->get_HorizontalLocked(&horizontal)) ? (horizontal ? 1 : 0) : -1;
    return S_OK;
}

HRESULT set(CaptureDevice& device, int32_t standard) {
    ComPtr<IAMAnalogVideoDecoder> decoder;
    HRESULT hr = findDecoder(device, decoder);
    if (FAILED(hr))
        return hr;
    long offered = 0;
    hr = decoder->get_AvailableTVFormats(&offered);
    if (FAILED(hr))
        return hr;
    // One standard, and one the decoder offers.
    const uint32_t bit = static_cast<uint32_t>(standard);
    if (bit == 0 || (bit & (bit - 1)) != 0 || !(bit & static_cast<uint32_t>(offered)))
        return E_INVALIDARG;
    hr = decoder->put_TVFormat(standard);
    if (SUCCEEDED(hr))
        device.choices.standard = standard;
    return hr;
}

}  // namespace video_standard
