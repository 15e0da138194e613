#pragma once
#include <windows.h>
#include <dshow.h>

#include <atomic>

// IAMVideoControl of a device with a still pin: on the still pin, external triggering (the
// device's button) can be turned on and off, and a software trigger sends one still. The mode
// lasts the filter's life. The filter derives from it, supplies IUnknown, tells which pin is which
// and sends the still.
class VideoControl : public IAMVideoControl {
public:
    // What the still pin can do.
    static constexpr LONG kStillCaps = VideoControlFlag_ExternalTriggerEnable | VideoControlFlag_Trigger;

    STDMETHODIMP GetCaps(IPin* pin, LONG* flags) override;
    STDMETHODIMP SetMode(IPin* pin, LONG mode) override;
    STDMETHODIMP GetMode(IPin* pin, LONG* mode) override;
    STDMETHODIMP GetCurrentActualFrameRate(IPin* pin, LONGLONG* frameRate) override;
    STDMETHODIMP GetMaxAvailableFrameRate(IPin* pin, LONG index, SIZE dimensions, LONGLONG* frameRate) override;
    STDMETHODIMP GetFrameRateList(IPin* pin, LONG index, SIZE dimensions, LONG* listSize,
                                  LONGLONG** frameRates) override;

    // The still pin's mode: VideoControlFlag_ExternalTriggerEnable or 0.
    const std::atomic<long>& stillMode() const { return stillMode_; }

protected:
    ~VideoControl() = default;
    enum class PinRole { still, capture, foreign };
    virtual PinRole roleOf(IPin* pin) = 0;
    virtual void triggerStill() = 0;

private:
    // `still` for the still pin, 0 for the capture pin, E_INVALIDARG for another filter's.
    HRESULT answerFor(IPin* pin, LONG still, LONG* answer);

    std::atomic<long> stillMode_{0};
};
