#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "frame_painter.h"
#include "jpeg_encoder.h"
#include "picture_tone.h"
#include "video_format.h"

// Size of the stamp at the start of every frame: sequence (uint32), tag (uint32), QPC (int64).
constexpr size_t kFrameStampSize = 16;

// Removes the middle half of a JPEG's scan (the entropy-coded bytes after its SOS segment),
// keeping the end-of-image marker; returns the new length. Other bytes are left as they are.
size_t cutScan(BYTE* jpeg, size_t size);

// Produces the frames of one stream in one format: the test picture in the format's own layout,
// in the tone the device's settings give it, stamped with the frame's sequence number, the
// device's tag and the performance counter.
// Lives on the streaming thread (MJPG needs COM there).
class FrameSource {
public:
    FrameSource(const FrameGeometry& geometry, DWORD tag, const PaintOptions& paint = {});
    HRESULT initialize();

    // Writes frame `sequence` into `buffer`; returns the bytes used (0 when it does not fit).
    size_t fill(uint32_t sequence, const PictureTone& tone, BYTE* buffer, size_t capacity);

private:
    // Repaints the still picture when the tone changed.
    void useTone(const PictureTone& tone);
    size_t fillUncompressed(uint32_t sequence, BYTE* buffer, size_t capacity);
    size_t fillJpeg(uint32_t sequence, BYTE* buffer, size_t capacity);
    void stamp(uint32_t sequence, BYTE* out) const;
    // Rows [top, bottom) widened to whole chroma rows where the layout needs them.
    void alignBand(int* top, int* bottom) const;

    FrameGeometry geometry_;
    DWORD tag_;
    BYTE xByte_;  // RGB32's fourth byte
    TestPicture picture_;
    PictureTone tone_;
    ToneTable toneTable_;
    std::vector<Bgr> background_;        // the still picture in the current tone
    std::vector<BYTE> backgroundFrame_;  // the same, converted to the layout
    std::vector<Bgr> band_;              // rows that change from frame to frame
    std::vector<Bgr> canvas_;            // whole picture, for the JPEG encoder
    int canvasBoxTop_ = 0, canvasBoxBottom_ = 0;
    JpegEncoder jpeg_;
    std::vector<BYTE> jpegBytes_;
};
