#pragma once
#include <cstdint>

#include <windows.h>

// The clock of FrameInfo.arrivalTime: QueryPerformanceCounter in 100 ns units, split so the
// product cannot overflow. Any thread.
inline int64_t arrivalClock() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / frequency * 10000000 + counter.QuadPart % frequency * 10000000 / frequency;
}
