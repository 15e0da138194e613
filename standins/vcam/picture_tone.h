#pragma once
#include <array>
#include <cstdint>

#include "frame_painter.h"

// How the device's brightness, contrast and gain settings change the picture it paints: each
// colour channel c becomes ((c - 128) * contrast + 128 + brightness) * gain, clamped to 0..255;
// a capture card's routed input then scales each channel by its own factor. The neutral tone
// changes nothing.
struct PictureTone {
    int brightness = 0;    // levels added
    double contrast = 1.0; // spread around mid-grey
    double gain = 1.0;     // factor applied last
    std::array<double, 3> channels{1.0, 1.0, 1.0};  // then blue, green and red each by its own factor

    bool operator==(const PictureTone& other) const {
        return brightness == other.brightness && contrast == other.contrast && gain == other.gain &&
               channels == other.channels;
    }
    bool operator!=(const PictureTone& other) const { return !(*this == other); }
};

// The tone as a table over the 256 levels of a channel, for painting many pixels.
class ToneTable {
public:
    explicit ToneTable(const PictureTone& tone = PictureTone());
    Bgr apply(const Bgr& pixel) const { return {levels_[0][pixel.b], levels_[1][pixel.g], levels_[2][pixel.r]}; }
    void apply(Bgr* pixels, size_t count) const;

private:
    std::array<std::array<uint8_t, 256>, 3> levels_;  // blue, green, red
};
