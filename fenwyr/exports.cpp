// The export boundary: the index rule and the exception barrier, nothing else.
#include <utility>

#include "camera_controls.h"
#include "capture_device.h"
#include "crossbar_inputs.h"
#include "device_events.h"
#include "device_identity.h"
#include "device_table.h"
#include "export_barrier.h"
#include "fenwyr.h"
#include "formats.h"
#include "frame_converter.h"
#include "property_pages.h"
#include "supervision.h"
#include "video_standard.h"

namespace {

using export_barrier::guarded;
using export_barrier::guardedResult;

// The index rule: work runs on the device at `index`; outside the table nothing happens and
// the export answers `fallback`.
template <typename Work, typename... Fallback>
auto onDevice(int32_t index, Work work, Fallback... fallback) noexcept
    -> decltype(work(std::declval<CaptureDevice&>())) {
    using Result = decltype(work(std::declval<CaptureDevice&>()));
    return guarded(
        [&]() -> Result {
            if (CaptureDevice* device = device_table::find(index))
                return work(*device);
            return Result(fallback...);
        },
        fallback...);
}

// The index rule for exports that answer with an HRESULT: E_INVALIDARG outside the table.
template <typename Work>
HRESULT resultOnDevice(int32_t index, Work work) noexcept {
    return guardedResult([&]() -> HRESULT {
        if (CaptureDevice* device = device_table::find(index))
            return work(*device);
        return E_INVALIDARG;
    });
}

}  // namespace

extern "C" {

FENWYR_API void init(void) {
    guarded([] { device_table::init(); });
}

FENWYR_API void uninit(void) {
    guarded([] { device_table::uninit(); });
}

FENWYR_API DeviceInfo* listDevices(void) {
    return guarded([] { return device_table::listDevices(); }, nullptr);
}

FENWYR_API int32_t openDevice(int32_t device) {
    return onDevice(device, [](CaptureDevice& d) { return d.open() ? 1 : 0; }, 0);
}

FENWYR_API int32_t startCapture(int32_t device) {
    return resultOnDevice(device, [](CaptureDevice& d) { return d.startCapture(); });
}

FENWYR_API int32_t stopCapture(int32_t device) {
    return resultOnDevice(device, [](CaptureDevice& d) { return d.stopCapture(); });
}

FENWYR_API void setFrameArrivedCallback(int32_t device, FrameArrivedCallback callback) {
    onDevice(device, [&](CaptureDevice& d) { d.frameCallback = callback; });
}

// Outside the table these two still return a new record at its defaults.
FENWYR_API ResolutionInfo* getResolutions(int32_t device) {
    return guarded([&] { return formats::getResolutions(device_table::find(device)); }, nullptr);
}

FENWYR_API ResolutionInfo* getResolution(int32_t device) {
    return guarded([&] { return formats::getResolution(device_table::find(device)); }, nullptr);
}

FENWYR_API void setResolution(int32_t device, int32_t capability) {
    onDevice(device, [&](CaptureDevice& d) { formats::setResolution(d, capability); });
}

FENWYR_API int32_t showFilterProperties(int32_t device) {
    return resultOnDevice(device, [](CaptureDevice& d) { return property_pages::showFilterProperties(d); });
}

FENWYR_API int32_t showCapturePinProperties(int32_t device) {
    return resultOnDevice(device, [](CaptureDevice& d) { return property_pages::showCapturePinProperties(d); });
}

FENWYR_API int32_t setFrameCallbackEx(int32_t device, FrameCallbackEx callback, void* userData) {
    return resultOnDevice(device, [&](CaptureDevice& d) {
        d.setFrameCallbackEx(callback, userData);
        return S_OK;
    });
}

FENWYR_API int32_t grabFrame(int32_t device, uint8_t* buffer, int32_t capacity, FrameInfo* info, int32_t timeoutMs) {
    if (capacity < 0 || timeoutMs < 0)
        return E_INVALIDARG;
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (!buffer || !info)
            return E_POINTER;
        return d.grabFrame(buffer, capacity, *info, timeoutMs);
    });
}

FENWYR_API int32_t setOutputFormat(int32_t device, int32_t output) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (output != FENWYR_OUTPUT_NATIVE && !FrameConverter::isPicture(output))
            return E_INVALIDARG;
        d.setOutput(output);
        return S_OK;
    });
}

FENWYR_API int32_t getOutputFormat(int32_t device) {
    return onDevice(device, [](CaptureDevice& d) { return d.output(); }, int32_t(-1));
}

FENWYR_API int32_t getDeviceIdentity(int32_t device, DeviceIdentity* identity) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (!identity)
            return E_POINTER;
        fillIdentity(d.identity, d.index, *identity);
        return S_OK;
    });
}

FENWYR_API int32_t findDevice(const char* pathOrName) {
    if (!pathOrName || !*pathOrName)
        return -1;
    return guarded([&] { return device_table::findDevice(pathOrName); }, -1);
}

FENWYR_API int32_t refreshDevices(void) {
    return guardedResult([] { return device_table::refreshDevices(); });
}

FENWYR_API void setDeviceEventCallback(DeviceEventCallback callback, void* userData) {
    guarded([&] { device_events::setCallback(callback, userData); });
}

FENWYR_API int32_t getDeviceState(int32_t device) {
    return onDevice(
        device,
        [](CaptureDevice& d) -> int32_t { return d.present ? d.state.load() : int32_t(FENWYR_STATE_ABSENT); },
        int32_t(FENWYR_STATE_ABSENT));
}

FENWYR_API int32_t getDeviceError(int32_t device) {
    return onDevice(device, [](CaptureDevice& d) -> int32_t { return d.streamError.load(); }, int32_t(E_INVALIDARG));
}

FENWYR_API int32_t getFormats(int32_t device, FormatInfo* formats, int32_t capacity) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (capacity < 0)
            return E_INVALIDARG;
        if (!formats && capacity > 0)
            return E_POINTER;
        return formats::getFormats(d, formats, capacity);
    });
}

FENWYR_API int32_t setFormat(int32_t device, int32_t capability, double fps) {
    return resultOnDevice(device, [&](CaptureDevice& d) { return formats::setFormat(d, capability, fps); });
}

FENWYR_API int32_t chooseFormat(int32_t device, int32_t width, int32_t height, double fps, int32_t fourcc) {
    return onDevice(
        device,
        [&](CaptureDevice& d) {
            return formats::chooseFormat(d, {width, height, fps, static_cast<uint32_t>(fourcc)});
        },
        -1);
}

FENWYR_API int32_t getControl(int32_t device, int32_t control, ControlInfo* info) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (!info)
            return E_POINTER;
        return camera_controls::get(d, control, *info);
    });
}

FENWYR_API int32_t setControl(int32_t device, int32_t control, int32_t value, int32_t flags) {
    return resultOnDevice(device, [&](CaptureDevice& d) { return camera_controls::set(d, control, value, flags); });
}

FENWYR_API int32_t setSupervision(int32_t device, int32_t stallMs, int32_t flags) {
    return resultOnDevice(device, [&](CaptureDevice& d) { return supervision::configure(d, stallMs, flags); });
}

FENWYR_API int32_t recoverDevice(int32_t device) {
    return resultOnDevice(device, [](CaptureDevice& d) { return supervision::recover(d); });
}

FENWYR_API int32_t getStreamStats(int32_t device, StreamStats* stats) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (!stats)
            return E_POINTER;
        *stats = supervision::statsOf(d);
        return S_OK;
    });
}

FENWYR_API int32_t getInputs(int32_t device, InputInfo* inputs, int32_t capacity) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (capacity < 0)
            return E_INVALIDARG;
        if (!inputs && capacity > 0)
            return E_POINTER;
        return crossbar_inputs::list(d, inputs, capacity);
    });
}

FENWYR_API int32_t selectInput(int32_t device, int32_t input) {
    return resultOnDevice(device, [&](CaptureDevice& d) { return crossbar_inputs::select(d, input); });
}

FENWYR_API int32_t getVideoStandard(int32_t device, int32_t* available, int32_t* current, int32_t* locked) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (!available || !current || !locked)
            return E_POINTER;
        return video_standard::get(d, *available, *current, *locked);
    });
}

FENWYR_API int32_t setVideoStandard(int32_t device, int32_t standard) {
    return resultOnDevice(device, [&](CaptureDevice& d) { return video_standard::set(d, standard); });
}

FENWYR_API int32_t getStillFormats(int32_t device, FormatInfo* formats, int32_t capacity) {
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (capacity < 0)
            return E_INVALIDARG;
        if (!formats && capacity > 0)
            return E_POINTER;
        return d.stillFormats(formats, capacity);
    });
}

FENWYR_API int32_t setStillFormat(int32_t device, int32_t capability) {
    return resultOnDevice(device, [&](CaptureDevice& d) { return d.changeStillFormat(capability); });
}

FENWYR_API int32_t takeStill(int32_t device, uint8_t* buffer, int32_t capacity, FrameInfo* info, int32_t timeoutMs) {
    if (capacity < 0 || timeoutMs < 0)
        return E_INVALIDARG;
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (!buffer || !info)
            return E_POINTER;
        return d.takeStill(buffer, capacity, *info, timeoutMs);
    });
}

FENWYR_API int32_t grabStill(int32_t device, uint8_t* buffer, int32_t capacity, FrameInfo* info, int32_t timeoutMs) {
    if (capacity < 0 || timeoutMs < 0)
        return E_INVALIDARG;
    return resultOnDevice(device, [&](CaptureDevice& d) -> HRESULT {
        if (!buffer || !info)
            return E_POINTER;
        return d.grabStill(buffer, capacity, *info, timeoutMs);
    });
}

FENWYR_API int32_t setStillCallback(int32_t device, FrameCallbackEx callback, void* userData) {
    return resultOnDevice(device, [&](CaptureDevice& d) { return d.setStillCallback(callback, userData); });
}

}  // extern "C"
