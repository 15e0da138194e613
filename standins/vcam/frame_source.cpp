#include "frame_source.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Writes side x side into the JPEG's frame header (SOF0 to SOF2); the scan stays the small picture's.
void declareSize(std::vector<BYTE>& jpeg, LONG side) {
    size_t at = 2;
    while (at + 9 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        if (jpeg[at + 1] >= 0xC0 && jpeg[at + 1] <= 0xC2) {
            for (size_t k : {at + 5, at + 7}) {
                jpeg[k] = static_cast<BYTE>(side >> 8);
                jpeg[k + 1] = static_cast<BYTE>(side);
            }
            return;
        }
        at += 2 + (static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3]);
    }
}

}  // namespace

size_t cutScan(BYTE* jpeg, size_t size) {
    size_t at = 2;
    while (at + 4 <= size && jpeg[at] == 0xFF) {
        const size_t segment = 2 + (static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3]);
        if (jpeg[at + 1] == 0xDA) {
            const size_t scan = at + segment;
            if (size < 2 || scan >= size - 2)
                return size;
            const size_t length = size - 2 - scan;
            const size_t from = scan + length / 4, to = scan + 3 * length / 4;
            std::memmove(jpeg + from, jpeg + to, size - to);
            return size - (to - from);
        }
        at += segment;
    }
    return size;
}

FrameSource::FrameSource(const FrameGeometry& geometry, DWORD tag, const PaintOptions& paint)
    : geometry_(geometry), tag_(tag), xByte_(paint.xByteZero ? 0 : 0xFF),
      picture_(geometry.width, std::abs(geometry.height), paint) {}

HRESULT FrameSource::initialize() {
    background_ = picture_.background();
    if (geometry_.layout == PixelLayout::Mjpg) {
        canvas_ = background_;
        return jpeg_.initialize();
    }
    backgroundFrame_.assign(geometry_.imageSize, 0);
    writePictureRows(geometry_, background_.data(), 0, picture_.rows(), backgroundFrame_.data(), xByte_);
    return S_OK;
}

void FrameSource::useTone(const PictureTone& tone) {
    if (tone == tone_)
        return;
    tone_ = tone;
    toneTable_ = ToneTable(tone);
    background_ = picture_.background();
    toneTable_.apply(background_.data(), background_.size());
    if (geometry_.layout == PixelLayout::Mjpg) {
        canvas_ = background_;
        canvasBoxTop_ = canvasBoxBottom_ = 0;
    } else {
        writePictureRows(geometry_, background_.data(), 0, picture_.rows(), backgroundFrame_.data(), xByte_);
    }
}

size_t FrameSource::fill(uint32_t sequence, const PictureTone& tone, BYTE* buffer, size_t capacity) {
    useTone(tone);
    if (geometry_.layout == PixelLayout::Mjpg)
        return fillJpeg(sequence, buffer, capacity);
    return fillUncompressed(sequence, buffer, capacity);
}

void FrameSource::alignBand(int* top, int* bottom) const {
    if (isPlanar420(geometry_.layout)) {
        *top &= ~1;
        *bottom = std::min(picture_.rows(), (*bottom + 1) & ~1);
    }
}

size_t FrameSource::fillUncompressed(uint32_t sequence, BYTE* buffer, size_t capacity) {
    const size_t size = geometry_.imageSize;
    if (capacity < size)
        return 0;
    std::memcpy(buffer, backgroundFrame_.data(), backgroundFrame_.size());
    int top = 0, bottom = 0;
    picture_.boxRows(sequence, &top, &bottom);
    alignBand(&top, &bottom);
    band_.resize(static_cast<size_t>(bottom - top) * picture_.width());
    picture_.paintRows(sequence, top, bottom - top, band_.data());
    if (tone_ != PictureTone())
        toneTable_.apply(band_.data(), band_.size());
    writePictureRows(geometry_, band_.data(), top, bottom - top, buffer, xByte_);
    stamp(sequence, buffer);
    return size;
}

size_t FrameSource::fillJpeg(uint32_t sequence, BYTE* buffer, size_t capacity) {
    const int width = picture_.width();
    // Put back the rows the last box covered, then paint this frame's box.
    if (canvasBoxBottom_ > canvasBoxTop_) {
        const size_t offset = static_cast<size_t>(canvasBoxTop_) * width;
        std::memcpy(&canvas_[offset], &background_[offset],
                    static_cast<size_t>(canvasBoxBottom_ - canvasBoxTop_) * width * sizeof(Bgr));
    }
    picture_.boxRows(sequence, &canvasBoxTop_, &canvasBoxBottom_);
    Bgr* box = &canvas_[static_cast<size_t>(canvasBoxTop_) * width];
    const int boxRows = canvasBoxBottom_ - canvasBoxTop_;
    picture_.paintRows(sequence, canvasBoxTop_, boxRows, box);
    if (tone_ != PictureTone())
        toneTable_.apply(box, static_cast<size_t>(boxRows) * width);

    if (FAILED(jpeg_.encode(reinterpret_cast<const BYTE*>(canvas_.data()), width, picture_.rows(), jpegBytes_)))
        return 0;
    if (jpegBytes_.size() < 2 || jpegBytes_[0] != 0xFF || jpegBytes_[1] != 0xD8)
        return 0;
    if (geometry_.declaredSide)
        declareSize(jpegBytes_, geometry_.declaredSide);

    // SOI, then a comment segment carrying the stamp, then the rest of the encoder's output.
    const size_t commentSize = 4 + kFrameStampSize;
    const size_t total = jpegBytes_.size() + commentSize;
    if (total > capacity)
        return 0;
    buffer[0] = 0xFF;
    buffer[1] = 0xD8;
    buffer[2] = 0xFF;
    buffer[3] = 0xFE;
    buffer[4] = 0;
    buffer[5] = static_cast<BYTE>(2 + kFrameStampSize);
    stamp(sequence, buffer + 6);
    std::memcpy(buffer + 2 + commentSize, jpegBytes_.data() + 2, jpegBytes_.size() - 2);
    return total;
}

void FrameSource::stamp(uint32_t sequence, BYTE* out) const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    BYTE bytes[kFrameStampSize];
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<BYTE>(sequence >> (8 * i));
        bytes[4 + i] = static_cast<BYTE>(tag_ >> (8 * i));
    }
    const uint64_t counter = static_cast<uint64_t>(now.QuadPart);
    for (int i = 0; i < 8; ++i)
        bytes[8 + i] = static_cast<BYTE>(counter >> (8 * i));
    // Tiny frames (a few 1-bit pixels) keep what fits.
    const size_t room = geometry_.layout == PixelLayout::Mjpg ? kFrameStampSize
                                                               : std::min<size_t>(kFrameStampSize, geometry_.imageSize);
    std::memcpy(out, bytes, room);
}
