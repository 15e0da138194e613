#include "capture_card.h"

#include <cwctype>
#include <optional>
#include <string>

namespace {

struct ConnectorName {
    const wchar_t* name;
    LONG type;
};

const ConnectorName kVideoConnectors[] = {
    {L"tuner", PhysConn_Video_Tuner},
    {L"composite", PhysConn_Video_Composite},
    {L"svideo", PhysConn_Video_SVideo},
    {L"rgb", PhysConn_Video_RGB},
    {L"yryby", PhysConn_Video_YRYBY},
    {L"serialdigital", PhysConn_Video_SerialDigital},
    {L"paralleldigital", PhysConn_Video_ParallelDigital},
    {L"scsi", PhysConn_Video_SCSI},
    {L"aux", PhysConn_Video_AUX},
    {L"1394", PhysConn_Video_1394},
    {L"usb", PhysConn_Video_USB},
    {L"scart", PhysConn_Video_SCART},
    {L"black", PhysConn_Video_Black},
};

const ConnectorName kAudioConnectors[] = {
    {L"tuner", PhysConn_Audio_Tuner},
    {L"line", PhysConn_Audio_Line},
    {L"mic", PhysConn_Audio_Mic},
    {L"aesdigital", PhysConn_Audio_AESDigital},
    {L"spdifdigital", PhysConn_Audio_SPDIFDigital},
    {L"scsi", PhysConn_Audio_SCSI},
    {L"aux", PhysConn_Audio_AUX},
    {L"1394", PhysConn_Audio_1394},
    {L"usb", PhysConn_Audio_USB},
};

std::wstring trimmedLower(std::wstring_view text) {
    while (!text.empty() && std::iswspace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back()))
        text.remove_suffix(1);
    std::wstring result;
    for (wchar_t c : text)
        result += static_cast<wchar_t>(std::towlower(c));
    return result;
}

template <size_t N>
std::optional<LONG> connector(const ConnectorName (&names)[N], std::wstring_view text) {
    const std::wstring name = trimmedLower(text);
    for (const ConnectorName& entry : names)
        if (name == entry.name)
            return entry.type;
    return std::nullopt;
}

// The tints of video inputs 0, 1, 2, 3 (then again): as is, red halved, green halved, blue halved.
InputTint tintOf(LONG input) {
    InputTint tint;
    switch (input % 4) {
    case 1: tint.red = 0.5; break;
    case 2: tint.green = 0.5; break;
    case 3: tint.blue = 0.5; break;
    default: break;
    }
    return tint;
}

}  // namespace

std::vector<CardInput> parseCardInputs(std::wstring_view text) {
    std::vector<CardInput> inputs;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring_view::npos)
            end = text.size();
        const std::wstring_view entry = text.substr(start, end - start);
        const size_t plus = entry.find(L'+');
        const auto video = connector(kVideoConnectors, entry.substr(0, plus));
        std::optional<LONG> audio = 0;
        if (plus != std::wstring_view::npos)
            audio = connector(kAudioConnectors, entry.substr(plus + 1));
        if (video && audio)
            inputs.push_back({*video, *audio});
        start = end + 1;
    }
    return inputs;
}

std::vector<CardInput> defaultCardInputs() {
    return {{PhysConn_Video_Composite, PhysConn_Audio_Line},
            {PhysConn_Video_SVideo, PhysConn_Audio_Line},
            {PhysConn_Video_ParallelDigital, PhysConn_Audio_SPDIFDigital}};
}

void CaptureCard::configure(const std::vector<CardInput>& inputs, LONG standards) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputs_.clear();
    outputs_.clear();
    videoInputs_ = static_cast<LONG>(inputs.size());
    for (const CardInput& input : inputs)
        inputs_.push_back({input.video, -1});
    for (size_t k = 0; k < inputs.size(); ++k) {
        if (!inputs[k].audio)
            continue;
        inputs_[k].related = static_cast<LONG>(inputs_.size());
        inputs_.push_back({inputs[k].audio, static_cast<LONG>(k)});
    }
    const bool audio = static_cast<LONG>(inputs_.size()) > videoInputs_;
    outputs_.push_back({PhysConn_Video_VideoDecoder, audio ? 1 : -1});
    if (audio)
        outputs_.push_back({PhysConn_Audio_AudioDecoder, 0});
    routing_.assign(outputs_.size(), -1);
    if (videoInputs_ > 0)
        routing_[0] = 0;
    if (audio)
        routing_[1] = inputs_[0].related >= 0 ? inputs_[0].related : videoInputs_;
    standards_ = standards;
    standard_ = standards & -standards;  // the lowest bit
}

LONG CaptureCard::outputCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<LONG>(outputs_.size());
}

LONG CaptureCard::inputCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<LONG>(inputs_.size());
}

HRESULT CaptureCard::pinInfo(bool input, LONG index, LONG* related, LONG* type) const {
    if (!related || !type)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<Pin>& pins = input ? inputs_ : outputs_;
    if (index < 0 || index >= static_cast<LONG>(pins.size()))
        return E_INVALIDARG;
    *related = pins[static_cast<size_t>(index)].related;
    *type = pins[static_cast<size_t>(index)].type;
    return S_OK;
}

HRESULT CaptureCard::canRoute(LONG output, LONG input) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (output < 0 || output >= static_cast<LONG>(outputs_.size()) || input < 0 ||
        input >= static_cast<LONG>(inputs_.size()))
        return E_INVALIDARG;
    return isAudio(outputs_[static_cast<size_t>(output)].type) == isAudio(inputs_[static_cast<size_t>(input)].type)
               ? S_OK
               : S_FALSE;
}

HRESULT CaptureCard::route(LONG output, LONG input) {
    if (input != -1) {
        const HRESULT can = canRoute(output, input);
        if (can != S_OK)
            return FAILED(can) ? can : E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (output < 0 || output >= static_cast<LONG>(outputs_.size()))
        return E_INVALIDARG;
    routing_[static_cast<size_t>(output)] = input;
    return S_OK;
}

HRESULT CaptureCard::routedTo(LONG output, LONG* input) const {
    if (!input)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (output < 0 || output >= static_cast<LONG>(outputs_.size()))
        return E_INVALIDARG;
    *input = routing_[static_cast<size_t>(output)];
    return S_OK;
}

LONG CaptureCard::standards() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return standards_;
}

LONG CaptureCard::standard() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return standard_;
}

HRESULT CaptureCard::setStandard(LONG standard) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (standard <= 0 || (standard & (standard - 1)) != 0 || !(standard & standards_))
        return E_INVALIDARG;
    standard_ = standard;
    return S_OK;
}

InputTint CaptureCard::tint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const LONG routed = routing_.empty() ? -1 : routing_[0];
    if (routed < 0)
        return InputTint{0.0, 0.0, 0.0};
    return tintOf(routed);
}
