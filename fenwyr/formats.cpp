#include "formats.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>

#include "media_type.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr size_t kCapabilityRecords = 1024;
constexpr ResolutionInfo kCapabilityDefaults = {-1, -1, -1, -1, -1.0f, -1};
constexpr ResolutionInfo kCurrentDefaults = {-1, 1, 1, 1, 1.0f, 0};

// Only capabilities described by VIDEO_STREAM_CONFIG_CAPS are understood.
constexpr int kVideoCapsSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
static_assert(kVideoCapsSize == 128, "VIDEO_STREAM_CONFIG_CAPS is 128 bytes");

void printLine(const char* text) {
    std::cout << text << std::endl;
}

// Everything but the index, from a VIDEOINFOHEADER or VIDEOINFOHEADER2 type.
void describe(AM_MEDIA_TYPE& type, ResolutionInfo& record) {
    BITMAPINFOHEADER header;
    REFERENCE_TIME interval;
    std::memcpy(&header, media_type::bitmapHeaderOf(type), sizeof header);
    std::memcpy(&interval, media_type::averageTimePerFrameOf(type), sizeof interval);
    record.width = header.biWidth;
    record.height = header.biHeight;
    record.bitCount = header.biBitCount;
    // A frame time of 0 gives infinity, as the division says.
    record.framesPerSecond = static_cast<float>(1.0 / (static_cast<double>(interval) / 10000000.0));
    record.pixelFormat = media_type::pixelFormatCode(type.subtype);
}

// The capture pin's stream configuration, silently; E_POINTER on a device never opened.
HRESULT queryStreamConfig(CaptureDevice& device, ComPtr<IAMStreamConfig>& config) {
    if (!device.captureBuilder || !device.captureFilter)
        return E_POINTER;
    return device.captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, device.captureFilter.Get(),
                                                IID_IAMStreamConfig, &config);
}

// The capture pin's stream configuration; null, with nothing printed, on a device never opened.
ComPtr<IAMStreamConfig> findStreamConfig(CaptureDevice& device) {
    if (!device.captureBuilder || !device.captureFilter)
        return nullptr;
    ComPtr<IAMStreamConfig> config;
    if (FAILED(queryStreamConfig(device, config))) {
        printLine("Error getting IAMStreamConfig");
        return nullptr;
    }
    return config;
}

// The number of capabilities, or -1 when they cannot be walked (printed when the query failed).
int capabilityCount(IAMStreamConfig* config) {
    int count = 0;
    int size = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &size))) {
        printLine("Error count and size");
        return -1;
    }
    return size == kVideoCapsSize ? count : -1;
}

void printFailureName(HRESULT hr) {
    switch (hr) {
    case E_NOTIMPL:
        printLine("E_NOTIMPL");
        break;
    case E_POINTER:
        printLine("E_POINTER");
        break;
    case E_FAIL:
        printLine("E_FAIL");
        break;
    case E_INVALIDARG:
        printLine("E_INVALIDARG");
        break;
    default:
        std::cout << "Unknown: " << static_cast<int32_t>(hr) << std::endl;
        break;
    }
}

}  // namespace

namespace formats {

ResolutionInfo* getResolutions(CaptureDevice* device) {
    auto* block = static_cast<ResolutionInfo*>(CoTaskMemAlloc(sizeof(ResolutionInfo) * kCapabilityRecords));
    if (!block)
        return nullptr;
    for (size_t i = 0; i < kCapabilityRecords; ++i)
        block[i] = kCapabilityDefaults;
    if (!device)
        return block;

    ComPtr<IAMStreamConfig> config = findStreamConfig(*device);
    if (!config)
        return block;
    const int count = capabilityCount(config.Get());
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* obtained = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        const HRESULT hr = config->GetStreamCaps(i, &obtained, reinterpret_cast<BYTE*>(&caps));
        const media_type::Ptr type(obtained);
        if (hr == S_FALSE)
            break;
        if (FAILED(hr)) {
            std::cout << "Error enumerating stream caps id: " << i << std::endl;
            continue;
        }
        if (type && media_type::hasVideoInfo(*type) && static_cast<size_t>(i) < kCapabilityRecords) {
            describe(*type, block[i]);
            block[i].index = i;
        }
    }
    return block;
}

ResolutionInfo* getResolution(CaptureDevice* device) {
    auto* record = static_cast<ResolutionInfo*>(CoTaskMemAlloc(sizeof(ResolutionInfo)));
    if (!record)
        return nullptr;
    *record = kCurrentDefaults;
    if (!device || !device->outputPin)
        return record;

    // The format of the connection that ends the chain, which is the one frames reach the host
    // in: the grabber's output, or the input of fenwyr's own sink for VIDEOINFOHEADER2 formats.
    const ComPtr<IPin> end = device->frameSink ? findInputPin(device->frameSink.Get()) : device->outputPin;
    AM_MEDIA_TYPE type{};
    const HRESULT hr = end ? end->ConnectionMediaType(&type) : E_POINTER;
    if (FAILED(hr)) {
        printFailureName(hr);
        printLine("Error getting current media format: ");
        return record;
    }
    if (media_type::bitmapHeaderOf(type))
        describe(type, *record);
    media_type::freeContents(type);
    return record;
}

void setResolution(CaptureDevice& device, int32_t capability) {
    ComPtr<IAMStreamConfig> config = findStreamConfig(device);
    if (!config)
        return;
    const int count = capabilityCount(config.Get());
    if (capability < 0 || capability >= count)
        return;
    AM_MEDIA_TYPE* obtained = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    const HRESULT hr = config->GetStreamCaps(capability, &obtained, reinterpret_cast<BYTE*>(&caps));
    const media_type::Ptr type(obtained);
    if (hr != S_OK || !type)
        return;
    // Not reported: the host sees the outcome through getResolution.
    if (SUCCEEDED(config->SetFormat(type.get())))
        device.choices = {capability, 0.0, device.choices.controls};
}

namespace {

// The capture pin's stream configuration and its number of capabilities, without a word
// printed; a count of 0 when their structure is not understood.
HRESULT streamConfigOf(CaptureDevice& device, ComPtr<IAMStreamConfig>& config, int& count) {
    if (!device.built)
        return E_POINTER;
    HRESULT hr = queryStreamConfig(device, config);
    if (FAILED(hr))
        return hr;
    int size = 0;
    hr = config->GetNumberOfCapabilities(&count, &size);
    if (SUCCEEDED(hr) && size != kVideoCapsSize)
        count = 0;
    return hr;
}

double framesPerSecond(REFERENCE_TIME interval) {
    return interval > 0 ? 1e7 / static_cast<double>(interval) : 0.0;
}

// One capability with a VIDEOINFOHEADER or VIDEOINFOHEADER2 format block.
struct Capability {
    media_type::Ptr type;
    VIDEO_STREAM_CONFIG_CAPS caps{};
};

// Capability `index`: S_OK with a qualifying type, S_FALSE for one that does not qualify or
// is past the end, or the failure. (getResolutions keeps to VIDEOINFOHEADER; these go past it.)
HRESULT capabilityAt(IAMStreamConfig* config, int index, Capability& capability) {
    AM_MEDIA_TYPE* obtained = nullptr;
    const HRESULT hr = config->GetStreamCaps(index, &obtained, reinterpret_cast<BYTE*>(&capability.caps));
    capability.type.reset(obtained);
    if (FAILED(hr))
        return hr;
    return hr == S_OK && capability.type && media_type::averageTimePerFrameOf(*capability.type) ? S_OK : S_FALSE;
}

// The frame interval setFormat gives `fps`, which must lie within the capability's range.
bool takesRate(const VIDEO_STREAM_CONFIG_CAPS& caps, double fps, REFERENCE_TIME& interval) {
    interval = std::llround(1e7 / fps);
    return interval >= caps.MinFrameInterval && interval <= caps.MaxFrameInterval;
}

// Bytes a second: the declared frame size (or the bitmap's, when none is declared) at the rate.
double bandwidthOf(const Capability& capability, REFERENCE_TIME interval) {
    const BITMAPINFOHEADER* header = media_type::bitmapHeaderOf(*capability.type);
    const media_type::FrameLayout layout = media_type::layoutOf(*capability.type);
    double frameBytes = header->biSizeImage;
    if (frameBytes == 0)
        frameBytes = static_cast<double>(layout.width) * layout.height * header->biBitCount / 8.0;
    return interval > 0 ? frameBytes * 1e7 / static_cast<double>(interval) : frameBytes;
}

}  // namespace

int32_t getFormats(CaptureDevice& device, FormatInfo* formats, int32_t capacity) {
    ComPtr<IAMStreamConfig> config;
    int count = 0;
    HRESULT hr = streamConfigOf(device, config, count);
    if (FAILED(hr))
        return hr;
    int32_t listed = 0;
    for (int i = 0; i < count; ++i) {
        Capability capability;
        hr = capabilityAt(config.Get(), i, capability);
        if (hr != S_OK)
            continue;
        if (listed < capacity) {
            const media_type::FrameLayout layout = media_type::layoutOf(*capability.type);
            FormatInfo& record = formats[listed];
            record.index = i;
            record.width = layout.width;
            record.height = layout.height;
            record.bitCount = media_type::bitmapHeaderOf(*capability.type)->biBitCount;
            record.pixelFormat = layout.pixelFormat;
            record.fourcc = layout.fourcc;
            record.defaultFps = framesPerSecond(*media_type::averageTimePerFrameOf(*capability.type));
            record.minFps = framesPerSecond(capability.caps.MaxFrameInterval);
            record.maxFps = framesPerSecond(capability.caps.MinFrameInterval);
        }
        ++listed;
    }
    return listed;
}

HRESULT setFormat(CaptureDevice& device, int32_t capability, double fps) {
    if (!(fps >= 0.0) || fps > 1e7)
        return E_INVALIDARG;
    ComPtr<IAMStreamConfig> config;
    int count = 0;
    HRESULT hr = streamConfigOf(device, config, count);
    if (FAILED(hr))
        return hr;
    if (capability < 0 || capability >= count)
        return E_INVALIDARG;
    Capability chosen;
    hr = capabilityAt(config.Get(), capability, chosen);
    if (FAILED(hr))
        return hr;
    if (hr != S_OK)
        return E_INVALIDARG;
    if (fps > 0.0) {
        REFERENCE_TIME interval = 0;
        if (!takesRate(chosen.caps, fps, interval))
            return E_INVALIDARG;
        *media_type::averageTimePerFrameOf(*chosen.type) = interval;
    }
    hr = device.changeFormat(config.Get(), chosen.type.get());
    if (SUCCEEDED(hr)) {
        device.choices.capability = capability;
        device.choices.fps = fps;
    }
    return hr;
}

int32_t chooseFormat(CaptureDevice& device, const FormatRequest& request) {
    if (request.width < 0 || request.height < 0 || !(request.fps >= 0.0) || request.fps > 1e7)
        return -1;
    ComPtr<IAMStreamConfig> config;
    int count = 0;
    if (FAILED(streamConfigOf(device, config, count)))
        return -1;
    int32_t best = -1;
    double leastBandwidth = 0.0;
    for (int i = 0; i < count; ++i) {
        Capability capability;
        if (capabilityAt(config.Get(), i, capability) != S_OK)
            continue;
        const media_type::FrameLayout layout = media_type::layoutOf(*capability.type);
        if ((request.width && layout.width != request.width) || (request.height && layout.height != request.height) ||
            (request.fourcc && layout.fourcc != request.fourcc))
            continue;
        REFERENCE_TIME interval = *media_type::averageTimePerFrameOf(*capability.type);
        if (request.fps > 0.0 && !takesRate(capability.caps, request.fps, interval))
            continue;
        const double bandwidth = bandwidthOf(capability, interval);
        if (best < 0 || bandwidth < leastBandwidth) {
            best = i;
            leastBandwidth = bandwidth;
        }
    }
    return best;
}

}  // namespace formats
