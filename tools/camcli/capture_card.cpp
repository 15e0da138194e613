// camcli inputs: a capture card's inputs and video standard through fenwyr.dll.
#include "capture_card.h"

#include <windows.h>
// The platform's AnalogVideo_ bits.
#include <strmif.h>

#include <cstdio>
#include <vector>

#include "commands.h"
#include "video_session.h"

const char* const kInputsHelp =
    "usage: camcli inputs D [--standard NAME] [--select N]\n"
    "Opens device D (a capture card) and lists the video inputs of its crossbar: index, type\n"
    "(composite, S-Video, tuner, component, HDMI, SDI, other), which one the card captures now\n"
    "(routed) and the audio input that goes with it; then the video standards its decoder offers,\n"
    "the one it decodes now and whether it has locked onto a signal.\n"
    "--standard NAME sets the decoder's standard first: NTSC_M, NTSC_M_J, NTSC_433, PAL_B, PAL_D,\n"
    "PAL_G, PAL_H, PAL_I, PAL_M, PAL_N, PAL_60, PAL_N_COMBO, SECAM_B, SECAM_D, SECAM_G, SECAM_H,\n"
    "SECAM_K, SECAM_K1, SECAM_L, SECAM_L1 (any case). --select N then routes input N (its index\n"
    "in the list), with its audio input. Both last as long as camcli has the device open.\n"
    "Exit code 2 when the device refused either (no such input or standard, no crossbar or decoder).\n";

namespace {

// E_PROP_ID_UNSUPPORTED: no crossbar, or no decoder.
constexpr int32_t kUnsupported = static_cast<int32_t>(0x80070490L);

const struct {
    int32_t bit;
    const char* name;
} kStandards[] = {
    {AnalogVideo_NTSC_M, "NTSC_M"},     {AnalogVideo_NTSC_M_J, "NTSC_M_J"}, {AnalogVideo_NTSC_433, "NTSC_433"},
    {AnalogVideo_PAL_B, "PAL_B"},       {AnalogVideo_PAL_D, "PAL_D"},       {AnalogVideo_PAL_G, "PAL_G"},
    {AnalogVideo_PAL_H, "PAL_H"},       {AnalogVideo_PAL_I, "PAL_I"},       {AnalogVideo_PAL_M, "PAL_M"},
    {AnalogVideo_PAL_N, "PAL_N"},       {AnalogVideo_PAL_60, "PAL_60"},     {AnalogVideo_SECAM_B, "SECAM_B"},
    {AnalogVideo_SECAM_D, "SECAM_D"},   {AnalogVideo_SECAM_G, "SECAM_G"},   {AnalogVideo_SECAM_H, "SECAM_H"},
    {AnalogVideo_SECAM_K, "SECAM_K"},   {AnalogVideo_SECAM_K1, "SECAM_K1"}, {AnalogVideo_SECAM_L, "SECAM_L"},
    {AnalogVideo_SECAM_L1, "SECAM_L1"}, {AnalogVideo_PAL_N_COMBO, "PAL_N_COMBO"},
};

const char* inputTypeName(int32_t type) {
    switch (type) {
    case FENWYR_INPUT_COMPOSITE: return "composite";
    case FENWYR_INPUT_SVIDEO: return "S-Video";
    case FENWYR_INPUT_TUNER: return "tuner";
    case FENWYR_INPUT_COMPONENT: return "component";
    case FENWYR_INPUT_HDMI: return "HDMI";
    case FENWYR_INPUT_SDI: return "SDI";
    default: return "other";
    }
}

// The standards of a mask, as names separated by `separator`, each quoted for JSON when asked.
std::string standardNames(int32_t mask, const char* separator, bool quoted) {
    std::string names;
    for (const auto& s : kStandards) {
        if (!(mask & s.bit))
            continue;
        if (!names.empty())
            names += separator;
        names += quoted ? std::string("\"") + s.name + "\"" : s.name;
    }
    return names;
}

// The device's inputs; false when it has no crossbar (or they cannot be read).
bool readInputs(const FenwyrApi& api, int device, std::vector<InputInfo>& inputs) {
    const int32_t count = api.getInputs(device, nullptr, 0);
    if (count < 0)
        return false;
    inputs.resize(static_cast<size_t>(count));
    const int32_t again = count ? api.getInputs(device, inputs.data(), count) : 0;
    if (again < 0)
        return false;
    inputs.resize(static_cast<size_t>(again < count ? again : count));
    return true;
}

void printCard(const FenwyrApi& api, int device) {
    std::vector<InputInfo> inputs;
    if (!readInputs(api, device, inputs)) {
        std::printf("device %d has no crossbar: no inputs to choose\n", device);
    } else {
        std::printf("input  type       connector  routed  audio\n");
        for (const InputInfo& input : inputs) {
            std::string audio = "-";
            if (input.audioInput >= 0)
                audio = std::to_string(input.audioInput) + (input.audioRouted ? " (routed)" : "");
            std::printf("%5d  %-9s  %9d  %-6s  %s\n", input.index, inputTypeName(input.type), input.connector,
                        input.routed ? "yes" : "no", audio.c_str());
        }
    }
    int32_t available = 0, current = 0, locked = -1;
    if (api.getVideoStandard(device, &available, &current, &locked) != S_OK) {
        std::printf("device %d has no analog video decoder\n", device);
        return;
    }
    std::printf("standard: %s (offered: %s); signal: %s\n", videoStandardName(current),
                standardNames(available, ", ", false).c_str(),
                locked == 1 ? "locked" : locked == 0 ? "none" : "unknown");
}

}  // namespace

int32_t videoStandardOf(const std::string& name) {
    std::string wanted;
    for (char c : name)
        wanted += c == '-' ? '_' : (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    for (const auto& s : kStandards)
        if (wanted == s.name)
            return s.bit;
    return 0;
}

const char* videoStandardName(int32_t standard) {
    for (const auto& s : kStandards)
        if (standard == s.bit)
            return s.name;
    return "?";
}

std::string inputsJson(const FenwyrApi& api, int device) {
    std::vector<InputInfo> inputs;
    if (!readInputs(api, device, inputs))
        return "null";
    std::string json = "[";
    for (const InputInfo& input : inputs) {
        json += std::string(json.size() > 1 ? ", " : "") + "{\"index\": " + std::to_string(input.index) +
                ", \"type\": \"" + inputTypeName(input.type) + "\", \"connector\": " + std::to_string(input.connector) +
                ", \"routed\": " + (input.routed ? "true" : "false") +
                ", \"audioInput\": " + (input.audioInput >= 0 ? std::to_string(input.audioInput) : "null") +
                ", \"audioRouted\": " + (input.audioRouted ? "true" : "false") + "}";
    }
    return json + "]";
}

std::string standardsJson(const FenwyrApi& api, int device) {
    int32_t available = 0, current = 0, locked = -1;
    if (api.getVideoStandard(device, &available, &current, &locked) != S_OK)
        return "null";
    return "{\"available\": [" + standardNames(available, ", ", true) + "], \"current\": " +
           (videoStandardName(current)[0] == '?' ? std::string("null")
                                                 : std::string("\"") + videoStandardName(current) + "\"") +
           ", \"locked\": " + (locked == 1 ? "true" : locked == 0 ? "false" : "null") + "}";
}

int runInputs(Arguments& args) {
    const std::string word = args.positional("device");
    int32_t standard = 0;
    long long select = -1;
    while (!args.empty()) {
        if (args.take("--standard")) {
            const std::string name = args.value("--standard");
            standard = videoStandardOf(name);
            if (!standard)
                throw UsageError("unknown video standard '" + name + "'");
        } else if (args.take("--select")) {
            select = args.integer("--select", 0, INT32_MAX);
        } else {
            args.unknown();
        }
    }
    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    const FenwyrApi& api = session.api();
    int code = 0;
    if (standard) {
        const int32_t hr = api.setVideoStandard(device, standard);
        if (hr == S_OK)
            std::printf("standard: %s set\n", videoStandardName(standard));
        else if (hr == kUnsupported)
            std::printf("device %d has no analog video decoder: no standard to set\n", device);
        else if (hr == E_INVALIDARG)
            std::printf("device %d does not offer %s\n", device, videoStandardName(standard));
        else
            std::printf("setting %s failed: 0x%08lX\n", videoStandardName(standard), static_cast<unsigned long>(hr));
        code = hr == S_OK ? 0 : 2;
    }
    if (select >= 0) {
        const int32_t hr = api.selectInput(device, static_cast<int32_t>(select));
        if (hr == S_OK)
            std::printf("input %lld selected\n", select);
        else if (hr == kUnsupported)
            std::printf("device %d has no crossbar: no input to select\n", device);
        else if (hr == E_INVALIDARG)
            std::printf("device %d has no video input %lld\n", device, select);
        else
            std::printf("selecting input %lld failed: 0x%08lX\n", select, static_cast<unsigned long>(hr));
        code = hr == S_OK ? code : 2;
    }
    printCard(api, device);
    return code;
}
