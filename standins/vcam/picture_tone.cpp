#include "picture_tone.h"

#include <algorithm>
#include <cmath>

ToneTable::ToneTable(const PictureTone& tone) {
    for (size_t channel = 0; channel < 3; ++channel) {
        for (int c = 0; c < 256; ++c) {
            const double value = ((c - 128) * tone.contrast + 128 + tone.brightness) * tone.gain * tone.channels[channel];
            levels_[channel][static_cast<size_t>(c)] = static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
        }
    }
}

void ToneTable::apply(Bgr* pixels, size_t count) const {
    for (size_t i = 0; i < count; ++i)
        pixels[i] = apply(pixels[i]);
}
