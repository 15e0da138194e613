#include "dropped_frames.h"

STDMETHODIMP DroppedFramesReport::GetNumDropped(LONG* count) {
    if (!count)
        return E_POINTER;
    *count = counters_.droppedCount();
    return S_OK;
}

STDMETHODIMP DroppedFramesReport::GetNumNotDropped(LONG* count) {
    if (!count)
        return E_POINTER;
    *count = counters_.deliveredCount();
    return S_OK;
}

STDMETHODIMP DroppedFramesReport::GetDroppedInfo(LONG size, LONG* numbers, LONG* copied) {
    if (!numbers || !copied)
        return E_POINTER;
    if (size <= 0)
        return E_INVALIDARG;
    *copied = counters_.droppedNumbers(numbers, size);
    return S_OK;
}

STDMETHODIMP DroppedFramesReport::GetAverageFrameSize(LONG* size) {
    if (!size)
        return E_POINTER;
    *size = counters_.averageSize();
    return S_OK;
}
