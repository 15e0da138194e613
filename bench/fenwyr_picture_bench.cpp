// Pictures: fenwyr's conversion of one frame (libyuv, TurboJPEG) against a memcpy of the picture's
// size (the floor no conversion beats), a straightforward scalar conversion (the reference) and,
// for MJPG, WIC's decoder, TurboJPEG's decoding straight to BGRA and libyuv's own MJPG path; beside
// them the bounds of a way's speed (the arithmetic without packing, entropy decoding alone). Frames
// are made in memory: no device.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <libyuv.h>
#include <turbojpeg.h>
// jpeglib.h wants FILE and size_t declared first.
#include <jpeglib.h>

#include "bench_table.h"
#include "frame_converter.h"

using Microsoft::WRL::ComPtr;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

uint8_t clamp(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// A picture with detail everywhere (so JPEG has work to do), as BGR.
std::vector<uint8_t> scene(int width, int height) {
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(x * 255 / width);
            p[1] = uint8_t(y * 255 / height);
            p[2] = uint8_t((x ^ y) & 0xFF);
        }
    return bgr;
}

struct Frame {
    media_type::FrameLayout layout;
    std::vector<uint8_t> bytes;
};

// The scene in the source's own layout.
Frame makeFrame(const std::string& source, int width, int height) {
    Frame frame;
    media_type::FrameLayout& l = frame.layout;
    l.width = width;
    l.height = height;
    const std::vector<uint8_t> bgr = scene(width, height);
    std::vector<uint8_t> argb(size_t(width) * height * 4);
    libyuv::RGB24ToARGB(bgr.data(), width * 3, argb.data(), width * 4, width, height);
    if (source == "YUY2") {
        l.fourcc = fourcc('Y', 'U', 'Y', '2');
        l.stride = width * 2;
        l.bitCount = 16;
        frame.bytes.resize(size_t(width) * height * 2);
        libyuv::ARGBToYUY2(argb.data(), width * 4, frame.bytes.data(), l.stride, width, height);
    } else if (source == "NV12") {
        l.fourcc = fourcc('N', 'V', '1', '2');
        l.stride = width;
        l.bitCount = 12;
        frame.bytes.resize(size_t(width) * height * 3 / 2);
        libyuv::ARGBToNV12(argb.data(), width * 4, frame.bytes.data(), width, frame.bytes.data() + size_t(width) * height,
                           width, width, height);
    } else if (source == "RGB24") {
        // Bottom-up, as DirectShow's RGB24 comes.
        l.subtype = MEDIASUBTYPE_RGB24;
        l.stride = (width * 3 + 3) & ~3;
        l.bitCount = 24;
        l.bottomUp = 1;
        frame.bytes.resize(size_t(l.stride) * height);
        for (int y = 0; y < height; ++y)
            std::memcpy(&frame.bytes[size_t(height - 1 - y) * l.stride], &bgr[size_t(y) * width * 3], size_t(width) * 3);
    } else {  // MJPG
        l.fourcc = fourcc('M', 'J', 'P', 'G');
        tjhandle encoder = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(encoder, bgr.data(), width, width * 3, height, TJPF_BGR, &jpeg, &size, TJSAMP_422, 85, 0);
        frame.bytes.assign(jpeg, jpeg + size);
        tjFree(jpeg);
        tjDestroy(encoder);
    }
    return frame;
}

int bytesPerPixel(int32_t output) {
    return output == FENWYR_OUTPUT_GRAY8 ? 1 : output == FENWYR_OUTPUT_BGR24 ? 3 : 4;
}

// The reference: one pixel at a time, in integers, BT.601 limited range.
void scalarYuvPixel(int y, int u, int v, uint8_t* out, int bytes) {
    const int c = 298 * (y - 16), d = u - 128, e = v - 128;
    out[0] = clamp((c + 516 * d + 128) >> 8);
    out[1] = clamp((c - 100 * d - 208 * e + 128) >> 8);
    out[2] = clamp((c + 409 * e + 128) >> 8);
    if (bytes == 4)
        out[3] = 255;
}

void scalarConvert(const Frame& frame, int32_t output, uint8_t* out) {
    const auto& l = frame.layout;
    const int w = l.width, h = l.height, bytes = bytesPerPixel(output);
    const uint8_t* in = frame.bytes.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* o = out + (size_t(y) * w + x) * bytes;
            int Y, U, V;
            if (l.fourcc == fourcc('Y', 'U', 'Y', '2')) {
                const uint8_t* p = in + size_t(y) * l.stride + (x & ~1) * 2;
                Y = p[(x & 1) * 2], U = p[1], V = p[3];
            } else if (l.fourcc == fourcc('N', 'V', '1', '2')) {
                const uint8_t* uv = in + size_t(w) * h + size_t(y / 2) * w + (x & ~1);
                Y = in[size_t(y) * w + x], U = uv[0], V = uv[1];
            } else {  // bottom-up BGR
                const uint8_t* p = in + size_t(h - 1 - y) * l.stride + size_t(x) * 3;
                if (bytes == 1) {
                    o[0] = uint8_t((29 * p[0] + 150 * p[1] + 77 * p[2] + 128) >> 8);
                } else {
                    o[0] = p[0], o[1] = p[1], o[2] = p[2];
                    if (bytes == 4)
                        o[3] = 255;
                }
                continue;
            }
            if (bytes == 1)
                o[0] = uint8_t(Y);
            else
                scalarYuvPixel(Y, U, V, o, bytes);
        }
}

// WIC's JPEG decoder into 24-bit BGR.
void wicDecode(IWICImagingFactory* factory, const Frame& frame, uint8_t* out) {
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> decoded;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(frame.bytes.data()), DWORD(frame.bytes.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &decoded)) || FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(decoded.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->CopyPixels(nullptr, UINT(frame.layout.width * 3),
                                     UINT(frame.layout.width * frame.layout.height * 3), out)))
        throw std::runtime_error("WIC cannot decode the JPEG");
}

// Entropy decoding alone, the floor of any path from MJPG (a scan interleaves the components):
// libjpeg skips rows by decoding their coefficients and dropping them; only the last row is
// transformed. The frame is our own, so libjpeg's default error handling (which ends the
// process) is not met.
void decodeEntropyOnly(const Frame& frame, std::vector<uint8_t>& row) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, frame.bytes.data(), static_cast<unsigned long>(frame.bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    jpeg_skip_scanlines(&info, info.output_height - 1);
    row.resize(info.output_width);
    JSAMPROW line = row.data();
    jpeg_read_scanlines(&info, &line, 1);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

// Milliseconds per call of `work`, over at least 300 ms.
double millisecondsPer(const std::function<void()>& work) {
    work();  // warm caches and first-call set-up
    int calls = 0;
    const auto begin = Clock::now();
    while (Clock::now() - begin < std::chrono::milliseconds(300)) {
        work();
        ++calls;
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count() / calls;
}

// BGR24 from YUY2 or NV12 the ways libyuv offers besides fenwyr's: by way of BGRA in bands of
// 32 rows, or of 4:2:2 planes (YUY2) and libyuv's one pass from them; NV12's one pass.
void otherBgr24(const Frame& frame, bool byPlanes, uint8_t* out, std::vector<uint8_t>& scratch) {
    const int w = frame.layout.width, h = frame.layout.height, cw = (w + 1) / 2;
    const uint8_t* in = frame.bytes.data();
    const bool yuy2 = frame.layout.fourcc == fourcc('Y', 'U', 'Y', '2');
    if (!yuy2 && byPlanes) {
        libyuv::NV12ToRGB24(in, w, in + size_t(w) * h, w, out, w * 3, w, h);
        return;
    }
    scratch.resize(size_t(w) * 4 * 32);
    uint8_t* y = scratch.data();
    uint8_t* u = y + size_t(w) * 32;
    uint8_t* v = u + size_t(cw) * 32;
    for (int first = 0; first < h; first += 32) {
        const int rows = std::min(32, h - first);
        uint8_t* o = out + size_t(first) * w * 3;
        if (yuy2 && byPlanes) {
            libyuv::YUY2ToI422(in + size_t(first) * w * 2, w * 2, y, w, u, cw, v, cw, w, rows);
            libyuv::I422ToRGB24(y, w, u, cw, v, cw, o, w * 3, w, rows);
            continue;
        }
        if (yuy2)
            libyuv::YUY2ToARGB(in + size_t(first) * w * 2, w * 2, scratch.data(), w * 4, w, rows);
        else
            libyuv::NV12ToARGB(in + size_t(first) * w, w, in + size_t(w) * h + size_t(first / 2) * w, w, scratch.data(),
                               w * 4, w, rows);
        libyuv::ARGBToRGB24(scratch.data(), w * 4, o, w * 3, w, rows);
    }
}

const char* outputName(int32_t output) {
    return output == FENWYR_OUTPUT_BGRA32 ? "BGRA32" : output == FENWYR_OUTPUT_BGR24 ? "BGR24" : "GRAY8";
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(5, std::atoi(argv[1])) : 7;
    try {
        CoInitialize(nullptr);
        ComPtr<IWICImagingFactory> wic;
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wic))))
            throw std::runtime_error("no WIC");
        std::vector<Figure> figures;
        std::vector<std::string> goals;
        for (const auto& size : {std::make_pair(1920, 1080), std::make_pair(640, 480)}) {
            const int w = size.first, h = size.second;
            for (const std::string source : {"YUY2", "NV12", "MJPG", "RGB24"}) {
                const Frame frame = makeFrame(source, w, h);
                for (int32_t output : {FENWYR_OUTPUT_BGRA32, FENWYR_OUTPUT_BGR24, FENWYR_OUTPUT_GRAY8}) {
                    FrameConverter converter;
                    std::vector<uint8_t> picture(size_t(w) * h * 4), copy(picture.size());
                    const size_t pictureBytes = size_t(w) * h * bytesPerPixel(output);
                    std::vector<std::function<std::vector<double>()>> runs = {
                        [&] { return std::vector<double>{millisecondsPer([&] {
                                  if (!converter.convert(frame.layout, frame.bytes.data(), frame.bytes.size(), output,
                                                         picture.data()))
                                      throw std::runtime_error("fenwyr did not convert " + source);
                              })}; },
                        [&] { return std::vector<double>{millisecondsPer([&] {
                                  std::memcpy(copy.data(), picture.data(), pictureBytes);
                              })}; },
                    };
                    const bool mjpg = source == "MJPG";
                    if (!mjpg)
                        runs.push_back([&] {
                            return std::vector<double>{millisecondsPer([&] { scalarConvert(frame, output, copy.data()); })};
                        });
                    else if (output == FENWYR_OUTPUT_BGR24)
                        runs.push_back([&] {
                            return std::vector<double>{millisecondsPer([&] { wicDecode(wic.Get(), frame, copy.data()); })};
                        });
                    else if (output == FENWYR_OUTPUT_BGRA32)
                        runs.push_back([&] {
                            tjhandle decoder = tjInitDecompress();
                            const double ms = millisecondsPer([&] {
                                tjDecompress2(decoder, frame.bytes.data(), static_cast<unsigned long>(frame.bytes.size()),
                                              copy.data(), w, w * 4, h, TJPF_BGRA, 0);
                            });
                            tjDestroy(decoder);
                            return std::vector<double>{ms};
                        });
                    // Grey from MJPG needs the luma only: held to fenwyr's own colour path, run beside it.
                    FrameConverter colourConverter;
                    std::vector<uint8_t> scratch;
                    std::vector<uint8_t> colour(size_t(w) * h * 4);
                    const auto toBgra = [&] { return std::vector<double>{millisecondsPer([&] {
                            if (!colourConverter.convert(frame.layout, frame.bytes.data(), frame.bytes.size(),
                                                         FENWYR_OUTPUT_BGRA32, colour.data()))
                                throw std::runtime_error("fenwyr did not convert " + source);
                        })}; };
                    if (mjpg && output == FENWYR_OUTPUT_GRAY8) {
                        runs.push_back(toBgra);
                        runs.push_back([&] {
                            return std::vector<double>{millisecondsPer([&] { decodeEntropyOnly(frame, scratch); })};
                        });
                    }
                    // libyuv's own MJPG path (limited range), which fenwyr used before: its speed is the bar.
                    if (mjpg && output == FENWYR_OUTPUT_BGRA32)
                        runs.push_back([&] {
                            return std::vector<double>{millisecondsPer([&] {
                                libyuv::MJPGToARGB(frame.bytes.data(), frame.bytes.size(), copy.data(), w * 4, w, h, w, h);
                            })};
                        });
                    // The other 24-bit ways, measured beside fenwyr's (after the runs the goals read).
                    const bool otherWays = output == FENWYR_OUTPUT_BGR24 && (source == "YUY2" || source == "NV12");
                    if (otherWays) {
                        for (const bool byPlanes : {false, true})
                            runs.push_back([&, byPlanes] {
                                return std::vector<double>{
                                    millisecondsPer([&] { otherBgr24(frame, byPlanes, copy.data(), scratch); })};
                            });
                        // The arithmetic alone, without packing to 24 bits: what no 24-bit way undercuts.
                        runs.push_back(toBgra);
                    }
                    const auto samples = alternate(repetitions, runs);
                    const std::string group = source + " " + std::to_string(w) + "x" + std::to_string(h) + " to " +
                                              outputName(output);
                    figures.push_back({group, "fenwyr", "ms/frame", samples[0][0], "memcpy"});
                    figures.push_back({group, "memcpy", "ms/frame", samples[1][0], ""});
                    if (mjpg && output == FENWYR_OUTPUT_GRAY8) {
                        figures.push_back({group, "fenwyr BGRA32", "ms/frame", samples[2][0], "fenwyr"});
                        figures.push_back({group, "entropy decoding", "ms/frame", samples[3][0], "fenwyr"});
                        const double colour = median(samples[2][0]);
                        const double ratio = median(samples[0][0]) / colour;
                        char line[224];
                        std::snprintf(line, sizeof line,
                                      "%-32s %5.2fx the time of fenwyr's BGRA32 path (goal <= 0.6: %s; entropy decoding alone %.2fx)",
                                      group.c_str(), ratio, ratio <= 0.6 ? "met" : "NOT met", median(samples[3][0]) / colour);
                        goals.push_back(line);
                    } else if (samples.size() > 2) {
                        const char* other = !mjpg ? "scalar" : output == FENWYR_OUTPUT_BGR24 ? "WIC" : "TurboJPEG";
                        figures.push_back({group, other, "ms/frame", samples[2][0], "fenwyr"});
                        const double fenwyr = median(samples[0][0]), reference = median(samples[2][0]);
                        char line[224];
                        const double floor = fenwyr / median(samples[1][0]);
                        char bound[64] = "";
                        if (otherWays)
                            std::snprintf(bound, sizeof bound, "; BGRA32 alone %.2fx",
                                          median(samples.back()[0]) / median(samples[1][0]));
                        if (!mjpg)
                            std::snprintf(line, sizeof line, "%-32s %5.2fx the memcpy floor (goal <= 2: %s%s), %5.1fx faster than scalar (goal >= 10: %s)",
                                          group.c_str(), floor, floor <= 2 ? "met" : "NOT met", bound, reference / fenwyr,
                                          reference / fenwyr >= 10 ? "met" : "NOT met");
                        else
                            std::snprintf(line, sizeof line, "%-32s %5.1fx faster than %s%s", group.c_str(),
                                          reference / fenwyr, other, output == FENWYR_OUTPUT_BGR24 && w == 1920 ? " (goal >= 5)" : "");
                        goals.push_back(line);
                    }
                    if (otherWays) {
                        const size_t k = samples.size() - 3;
                        figures.push_back({group, "by BGRA bands", "ms/frame", samples[k][0], "fenwyr"});
                        figures.push_back({group, source == "YUY2" ? "by I422 planes" : "one pass", "ms/frame",
                                           samples[k + 1][0], "fenwyr"});
                        figures.push_back({group, "BGRA32 alone", "ms/frame", samples[k + 2][0], "fenwyr"});
                    } else if (mjpg && output == FENWYR_OUTPUT_BGRA32) {
                        figures.push_back({group, "libyuv MJPG", "ms/frame", samples[3][0], "fenwyr"});
                        char line[224];
                        std::snprintf(line, sizeof line, "%-32s %5.2fx the time of libyuv's MJPG path%s", group.c_str(),
                                      median(samples[0][0]) / median(samples[3][0]), w == 1920 ? " (goal <= 1.1)" : "");
                        goals.push_back(line);
                    }
                }
            }
        }
        printTable("Pictures (fenwyr's conversion of one frame), " + std::to_string(repetitions) +
                       " alternating repetitions",
                   figures);
        std::printf("\nGoals\n");
        for (const std::string& line : goals)
            std::printf("%s\n", line.c_str());
        CoUninitialize();
        return 0;
    } catch (const std::exception& e) {
        std::printf("benchmark failed: %s\n", e.what());
        return 1;
    }
}
