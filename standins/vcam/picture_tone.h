#pragma once
#include <array>
#include <cstdint>

#include "frame_painter.h"

// How the device's brightness, contrast and gain settings change the picture it paints: each
// colour channel c becomes ((c - 128) * contrast + 128 + brightness) * gain, clamped to 0..255.
// The neutral tone changes nothing.
struct PictureTone {
    int brightness = 0;    // levels added
    double contrast = 1.0; // spread around mid-grey
    double gain = 1.0;     // factor applied last

    bool operator==(const PictureTone& other) const {
        return brightness == other.brightness && contrast == other.contrast && gain == other.gain;
    }
    bool operator!=(const PictureTone& other) const { return !(*this == other); }
};

// The tone as a table over the 256 levels of a channel, for painting many pixels.
class ToneTable {
public:
    explicit ToneTable(const PictureTone& tone = PictureTone());
    Bgr apply(const Bgr& pixel) const { return {levels_[pixel.b], levels_[pixel.g], levels_[pixel.r]}; }
    void apply(Bgr* pixels, size_t count) const;

private:
    std::array<uint8_t, 256> levels_;
};
