#pragma once
#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "capture_card.h"
#include "device_presence.h"

// IAMAnalogVideoDecoder over the card's video standard. Whether it has locked onto a signal is
// read from the device's key (`NoSignal`) at every call. The filter supplies IUnknown.
class AnalogDecoder : public IAMAnalogVideoDecoder {
public:
    AnalogDecoder(CaptureCard& card, const DevicePresence& presence) : card_(card), presence_(presence) {}

    STDMETHODIMP get_AvailableTVFormats(LONG* standards) override;
    STDMETHODIMP put_TVFormat(LONG standard) override;
    STDMETHODIMP get_TVFormat(LONG* standard) override;
    STDMETHODIMP get_HorizontalLocked(LONG* locked) override;
    STDMETHODIMP put_VCRHorizontalLocking(LONG vcrLocking) override;
    STDMETHODIMP get_VCRHorizontalLocking(LONG* vcrLocking) override;
    STDMETHODIMP get_NumberOfLines(LONG* lines) override;
    STDMETHODIMP put_OutputEnable(LONG enable) override;
    STDMETHODIMP get_OutputEnable(LONG* enable) override;

protected:
    ~AnalogDecoder() = default;

private:
    CaptureCard& card_;
    const DevicePresence& presence_;
    std::atomic<LONG> vcrLocking_{0};
    std::atomic<LONG> outputEnable_{1};
};
