#pragma once
#include <windows.h>
#include <dshow.h>

#include "capture_card.h"

// IAMCrossbar over the card's routing. The filter derives from it and answers for it only when
// the device is a capture card; the filter supplies IUnknown.
class Crossbar : public IAMCrossbar {
public:
    explicit Crossbar(CaptureCard& card) : card_(card) {}

    STDMETHODIMP get_PinCounts(LONG* outputs, LONG* inputs) override;
    STDMETHODIMP CanRoute(LONG output, LONG input) override;
    STDMETHODIMP Route(LONG output, LONG input) override;
    STDMETHODIMP get_IsRoutedTo(LONG output, LONG* input) override;
    STDMETHODIMP get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) override;

protected:
    ~Crossbar() = default;

private:
    CaptureCard& card_;
};
