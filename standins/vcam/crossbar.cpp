#include "crossbar.h"

STDMETHODIMP Crossbar::get_PinCounts(LONG* outputs, LONG* inputs) {
    if (!outputs || !inputs)
        return E_POINTER;
    *outputs = card_.outputCount();
    *inputs = card_.inputCount();
    return S_OK;
}

STDMETHODIMP Crossbar::CanRoute(LONG output, LONG input) {
    return card_.canRoute(output, input);
}

STDMETHODIMP Crossbar::Route(LONG output, LONG input) {
    return card_.route(output, input);
}

STDMETHODIMP Crossbar::get_IsRoutedTo(LONG output, LONG* input) {
    return card_.routedTo(output, input);
}

STDMETHODIMP Crossbar::get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) {
    return card_.pinInfo(isInput != FALSE, index, related, type);
}
