#include "crossbar_inputs.h"

#include <vector>

#include "capture_card_interface.h"

using Microsoft::WRL::ComPtr;

namespace {

bool isAudio(long type) {
    return type >= PhysConn_Audio_Tuner;
}

int32_t inputType(long connector) {
    switch (connector) {
    case PhysConn_Video_Composite: return FENWYR_INPUT_COMPOSITE;
    case PhysConn_Video_SVideo: return FENWYR_INPUT_SVIDEO;
    case PhysConn_Video_Tuner: return FENWYR_INPUT_TUNER;
    case PhysConn_Video_YRYBY:
    case PhysConn_Video_RGB: return FENWYR_INPUT_COMPONENT;
    case PhysConn_Video_ParallelDigital: return FENWYR_INPUT_HDMI;
    case PhysConn_Video_SerialDigital: return FENWYR_INPUT_SDI;
    default: return FENWYR_INPUT_OTHER;
    }
}

// The crossbar as fenwyr uses it: its video inputs, and the outputs that feed the capture filter
// and the audio path.
struct Routing {
    ComPtr<IAMCrossbar> crossbar;
    std::vector<InputInfo> inputs;  // routed fields not filled
    long inputCount = 0;
    long videoOutput = -1;
    long audioOutput = -1;
};

// The output the capture filter gets its video from: the video decoder output, else the first
// video output. The audio output: the one the crossbar relates to it, else the first audio one.
HRESULT findOutputs(Routing& routing, long outputs) {
    long firstVideo = -1, firstAudio = -1, decoder = -1;
    for (long k = 0; k < outputs; ++k) {
        long related = -1, type = 0;
        const HRESULT hr = routing.crossbar->get_CrossbarPinInfo(FALSE, k, &related, &type);
        if (FAILED(hr))
            return hr;
        if (isAudio(type)) {
            if (firstAudio < 0)
                firstAudio = k;
        } else {
            if (firstVideo < 0)
                firstVideo = k;
            if (decoder < 0 && type == PhysConn_Video_VideoDecoder)
                decoder = k;
        }
    }
    routing.videoOutput = decoder >= 0 ? decoder : firstVideo;
    if (routing.videoOutput < 0)
        return S_OK;
    long related = -1, type = 0;
    if (SUCCEEDED(routing.crossbar->get_CrossbarPinInfo(FALSE, routing.videoOutput, &related, &type)) &&
        related >= 0 && related < outputs && related != routing.videoOutput) {
        long relatedType = 0, back = -1;
        if (SUCCEEDED(routing.crossbar->get_CrossbarPinInfo(FALSE, related, &back, &relatedType)) && isAudio(relatedType))
            routing.audioOutput = related;
    }
    if (routing.audioOutput < 0)
        routing.audioOutput = firstAudio;
    return S_OK;
}

// E_PROP_ID_UNSUPPORTED without a crossbar.
HRESULT readRouting(CaptureDevice& device, Routing& routing) {
    if (!device.built)
        return E_POINTER;
    routing.crossbar = captureCardInterface<IAMCrossbar>(device, IID_IAMCrossbar);
    if (!routing.crossbar)
        return E_PROP_ID_UNSUPPORTED;
    long outputs = 0, inputs = 0;
    HRESULT hr = routing.crossbar->get_PinCounts(&outputs, &inputs);
    if (FAILED(hr))
        return hr;
    // Counts from a driver: kept to what a crossbar can sensibly have.
    if (outputs < 0 || inputs < 0 || outputs > 1024 || inputs > 1024)
        return E_UNEXPECTED;
    routing.inputCount = inputs;
    hr = findOutputs(routing, outputs);
    if (FAILED(hr))
        return hr;
    for (long k = 0; k < inputs; ++k) {
        long related = -1, type = 0;
        hr = routing.crossbar->get_CrossbarPinInfo(TRUE, k, &related, &type);
        if (FAILED(hr))
            return hr;
        if (isAudio(type))
            continue;
        InputInfo info{};
        info.index = static_cast<int32_t>(k);
        info.type = inputType(type);
        info.connector = static_cast<int32_t>(type);
        info.audioInput = -1;
        // Only an audio pin counts as the related audio input.
        long relatedRelated = -1, relatedType = 0;
        if (related >= 0 && related < inputs && related != k &&
            SUCCEEDED(routing.crossbar->get_CrossbarPinInfo(TRUE, related, &relatedRelated, &relatedType)) &&
            isAudio(relatedType))
            info.audioInput = static_cast<int32_t>(related);
        routing.inputs.push_back(info);
    }
    return S_OK;
}

long routedTo(IAMCrossbar* crossbar, long output) {
    long input = -1;
    if (output < 0 || FAILED(crossbar->get_IsRoutedTo(output, &input)))
        return -1;
    return input;
}

}  // namespace

namespace crossbar_inputs {

HRESULT list(CaptureDevice& device, InputInfo* inputs, int32_t capacity) {
    Routing routing;
    const HRESULT hr = readRouting(device, routing);
    if (FAILED(hr))
        return hr;
    const long video = routedTo(routing.crossbar.Get(), routing.videoOutput);
    const long audio = routedTo(routing.crossbar.Get(), routing.audioOutput);
    const int32_t count = static_cast<int32_t>(routing.inputs.size());
    for (int32_t k = 0; k < count && k < capacity; ++k) {
        InputInfo info = routing.inputs[static_cast<size_t>(k)];
        info.routed = info.index == video ? 1 : 0;
        info.audioRouted = info.audioInput >= 0 && info.audioInput == audio ? 1 : 0;
        inputs[k] = info;
    }
    return count;
}

HRESULT select(CaptureDevice& device, int32_t input) {
    Routing routing;
    HRESULT hr = readRouting(device, routing);
    if (FAILED(hr))
        return hr;
    const InputInfo* chosen = nullptr;
    for (const InputInfo& info : routing.inputs)
        if (info.index == input)
            chosen = &info;
    if (!chosen || routing.videoOutput < 0)
        return E_INVALIDARG;
    hr = routing.crossbar->Route(routing.videoOutput, chosen->index);
    if (FAILED(hr))
        return hr;
    device.choices.input = input;
    if (chosen->audioInput < 0 || routing.audioOutput < 0 ||
        routing.crossbar->CanRoute(routing.audioOutput, chosen->audioInput) != S_OK)
        return S_OK;
    return routing.crossbar->Route(routing.audioOutput, chosen->audioInput);
}

}  // namespace crossbar_inputs
