#pragma once
#include <windows.h>
#include <dshow.h>

#include <mutex>
#include <string_view>
#include <vector>

// A capture card's front end: a crossbar that routes one of its inputs (composite, S-Video, ...)
// to the video decoder, with the audio inputs beside them, and the analog decoder's video standard.
// Shared by the crossbar and decoder interfaces and the streaming thread, which paints the picture
// of the routed input.

// One video input as configured: its connector and, if it has one, its audio input's connector
// (PhysConn_ values; 0: none).
struct CardInput {
    LONG video = 0;
    LONG audio = 0;
};

// `;`-separated `VIDEO[+AUDIO]` entries, names as the platform's PhysConn_Video_ and PhysConn_Audio_
// values without the prefix (any case), e.g. "Composite+Line;SVideo+Line;ParallelDigital+SPDIFDigital".
// Malformed entries are left out.
std::vector<CardInput> parseCardInputs(std::wstring_view text);
// What a card has when `CrossbarInputs` is absent.
std::vector<CardInput> defaultCardInputs();
// What a card's decoder offers when `VideoStandards` is absent: NTSC_M, PAL_B, PAL_I, SECAM_L.
constexpr LONG kDefaultVideoStandards = AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_PAL_I | AnalogVideo_SECAM_L;

// How the routed input tints the picture: per channel (blue, green, red), a factor.
struct InputTint {
    double blue = 1.0, green = 1.0, red = 1.0;
};

class CaptureCard {
public:
    // Pins: the video inputs in order (0 .. n-1), then the audio inputs in the same order; outputs
    // 0 (video decoder) and, with any audio input, 1 (audio decoder). At first the video output
    // takes input 0 and the audio output its audio (or the first audio input). The decoder starts
    // at the lowest standard it offers.
    void configure(const std::vector<CardInput>& inputs, LONG standards);

    LONG outputCount() const;
    LONG inputCount() const;
    // E_INVALIDARG for an index outside the pins.
    HRESULT pinInfo(bool input, LONG index, LONG* related, LONG* type) const;
    // S_OK when the output can take the input (video to video, audio to audio), S_FALSE when not;
    // E_INVALIDARG for an index outside the pins.
    HRESULT canRoute(LONG output, LONG input) const;
    // Input -1 leaves the output unrouted (a black picture).
    HRESULT route(LONG output, LONG input);
    HRESULT routedTo(LONG output, LONG* input) const;

    LONG standards() const;
    LONG standard() const;
    // E_INVALIDARG unless exactly one standard the decoder offers.
    HRESULT setStandard(LONG standard);

    // The streaming thread's view: the tint of the video input routed now.
    InputTint tint() const;

private:
    struct Pin {
        LONG type = 0;
        LONG related = -1;
    };
    static bool isAudio(LONG type) { return type >= PhysConn_Audio_Tuner; }

    mutable std::mutex mutex_;
    std::vector<Pin> inputs_;
    std::vector<Pin> outputs_;
    std::vector<LONG> routing_;  // per output: its input, or -1
    LONG videoInputs_ = 0;
    LONG standards_ = 0;
    LONG standard_ = 0;
};
