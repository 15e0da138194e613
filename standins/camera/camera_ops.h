// The simulated camera's operations, looked up by ordinal as a host imports them, plus the
// steps most tests repeat.
#pragma once

#include <camera_controls.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace camera_ops {

template <typename Function>
Function byOrdinal(int ordinal) {
    HMODULE module = GetModuleHandleW(L"uEye_api_64.dll");
    FARPROC address = module ? GetProcAddress(module, MAKEINTRESOURCEA(ordinal)) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

using Handle = std::uint32_t;

struct Ops {
    std::int32_t (*open)(Handle*, void*) = byOrdinal<decltype(open)>(237);
    std::int32_t (*close)(Handle) = byOrdinal<decltype(close)>(239);
    std::int32_t (*setDisplayMode)(Handle, int) = byOrdinal<decltype(setDisplayMode)>(12);
    std::int32_t (*setColourMode)(Handle, int) = byOrdinal<decltype(setColourMode)>(17);
    std::int32_t (*readInfo)(Handle, void*) = byOrdinal<decltype(readInfo)>(241);
    std::int32_t (*aoi)(Handle, std::uint32_t, void*, std::uint32_t) = byOrdinal<decltype(aoi)>(486);
    std::int32_t (*allocate)(Handle, int, int, int, char**, int*) = byOrdinal<decltype(allocate)>(36);
    std::int32_t (*addToSequence)(Handle, char*, int) = byOrdinal<decltype(addToSequence)>(68);
    std::int32_t (*clearSequence)(Handle) = byOrdinal<decltype(clearSequence)>(69);
    std::int32_t (*freeMemory)(Handle, char*, int) = byOrdinal<decltype(freeMemory)>(38);
    std::int32_t (*initQueue)(Handle, int) = byOrdinal<decltype(initQueue)>(395);
    std::int32_t (*exitQueue)(Handle) = byOrdinal<decltype(exitQueue)>(429);
    std::int32_t (*startLive)(Handle, int) = byOrdinal<decltype(startLive)>(5);
    std::int32_t (*stopLive)(Handle, int) = byOrdinal<decltype(stopLive)>(3);
    std::int32_t (*waitForImage)(Handle, std::uint32_t, char**, int*) = byOrdinal<decltype(waitForImage)>(393);
    std::int32_t (*copy)(Handle, char*, int, char*) = byOrdinal<decltype(copy)>(85);
    std::int32_t (*unlock)(Handle, int, char*) = byOrdinal<decltype(unlock)>(72);
    std::int32_t (*captureStatus)(Handle, std::uint32_t, void*, std::uint32_t) = byOrdinal<decltype(captureStatus)>(500);
    std::int32_t (*lastError)(Handle, std::int32_t*, char**) = byOrdinal<decltype(lastError)>(23);
    std::int32_t (*pixelClock)(Handle, std::uint32_t, void*, std::uint32_t) = byOrdinal<decltype(pixelClock)>(514);
    std::int32_t (*setFrameRate)(Handle, double, double*) = byOrdinal<decltype(setFrameRate)>(231);
    std::int32_t (*frameTimeRange)(Handle, double*, double*, double*) = byOrdinal<decltype(frameTimeRange)>(271);
    std::int32_t (*exposure)(Handle, std::uint32_t, void*, std::uint32_t) = byOrdinal<decltype(exposure)>(496);
    std::int32_t (*gamma)(Handle, std::uint32_t, void*, std::uint32_t) = byOrdinal<decltype(gamma)>(530);
    std::int32_t (*gain)(Handle, int, int, int, int) = byOrdinal<decltype(gain)>(215);
};

inline const Ops& ops() {
    static const Ops table;
    return table;
}

struct Aoi {
    std::int32_t x, y, width, height;
};

struct LastError {
    std::int32_t code = 0;
    std::string text;
};

inline LastError lastError(Handle handle) {
    LastError error;
    char* text = nullptr;
    ops().lastError(handle, &error.code, &text);
    if (text)
        error.text = text;
    return error;
}

inline std::int32_t setAoi(Handle handle, Aoi aoi) {
    return ops().aoi(handle, 1, &aoi, sizeof aoi);
}

inline Aoi currentAoi(Handle handle) {
    Aoi aoi{-1, -1, -1, -1};
    ops().aoi(handle, 2, &aoi, sizeof aoi);
    return aoi;
}

inline double currentFps(Handle handle) {
    double fps = 0;
    ops().setFrameRate(handle, 32768.0, &fps);
    return fps;
}

inline std::uint32_t frameCounter(const char* memory) {
    std::uint32_t counter;
    std::memcpy(&counter, memory, sizeof counter);
    return counter;
}

inline std::string callLog() {
    std::string log(static_cast<std::size_t>(simCallLog(nullptr, 0)) + 1, '\0');
    simCallLog(&log[0], static_cast<int>(log.size()));
    log.resize(log.size() - 1);
    return log;
}

// The two image memories a host keeps in the sequence for an AOI, as the product arranges them.
struct Memories {
    char* memory[2] = {nullptr, nullptr};
    int id[2] = {0, 0};

    std::int32_t allocate(Handle handle, int width, int height) {
        for (int i = 0; i < 2; ++i) {
            if (std::int32_t status = ops().allocate(handle, width, height, 8, &memory[i], &id[i]))
                return status;
            if (std::int32_t status = ops().addToSequence(handle, memory[i], id[i]))
                return status;
        }
        return ops().initQueue(handle, 0);
    }
    void release(Handle handle) {
        ops().exitQueue(handle);
        ops().clearSequence(handle);
        for (int i = 0; i < 2; ++i)
            if (memory[i])
                ops().freeMemory(handle, memory[i], id[i]);
        *this = Memories{};
    }
    int indexOf(const char* address) const {
        return address == memory[0] ? 0 : address == memory[1] ? 1 : -1;
    }
};

}  // namespace camera_ops
