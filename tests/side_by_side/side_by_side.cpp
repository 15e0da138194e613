// side_by_side DEVICE OUT_DIR: for each capability of the device, one frame as fenwyr's BGR24
// picture (left) beside the tests' reference decoding of the same frame's own bytes (right), as
// OUT_DIR/side-by-side-<capability>-<format>.png, with the largest and mean difference printed.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_pair.h"
#include "reference_picture.h"
#include "wic_image.h"

namespace {

std::string fourccText(uint32_t code) {
    return std::string{char(code), char(code >> 8), char(code >> 16), char(code >> 24)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: side_by_side DEVICE OUT_DIR\n");
        return 2;
    }
    init();
    const int32_t device = findDevice(argv[1]);
    if (device < 0 || !openDevice(device)) {
        std::printf("no device %s\n", argv[1]);
        return 1;
    }
    const int32_t count = getFormats(device, nullptr, 0);
    std::vector<FormatInfo> formats(size_t(std::max(count, 0)));
    getFormats(device, formats.data(), count);
    ResolutionInfo* resolutions = getResolutions(device);
    setOutputFormat(device, FENWYR_OUTPUT_BGR24);
    int status = 0;
    for (const FormatInfo& f : formats) {
        setFormat(device, f.index, 0.0);
        startCapture(device);
        const bool came = FramePair::take(device, std::chrono::seconds(10));
        stopCapture(device);
        const std::string name =
            std::to_string(f.index) + "-" + (f.fourcc ? fourccText(f.fourcc) : "RGB" + std::to_string(f.bitCount));
        if (!came) {
            std::printf("%-12s no frame\n", name.c_str());
            status = 1;
            continue;
        }
        const bool bottomUp = f.index < 1024 && resolutions && resolutions[f.index].height > 0;
        const std::vector<uint8_t>& picture = FramePair::picture();
        const std::vector<uint8_t> reference =
            referenceBgr(referenceFormatOf(f, bottomUp), FramePair::native().data(), FramePair::native().size());
        if (reference.empty()) {
            std::printf("%-12s the reference does not know this layout\n", name.c_str());
            continue;
        }
        std::vector<BYTE> both(size_t(f.width) * 2 * f.height * 3);
        int largest = 0;
        double total = 0;
        for (int y = 0; y < f.height; ++y) {
            const size_t row = size_t(y) * f.width * 3;
            std::copy_n(&picture[row], size_t(f.width) * 3, &both[row * 2]);
            std::copy_n(&reference[row], size_t(f.width) * 3, &both[row * 2 + size_t(f.width) * 3]);
            for (size_t i = row; i < row + size_t(f.width) * 3; ++i) {
                const int difference = std::abs(int(picture[i]) - int(reference[i]));
                largest = std::max(largest, difference);
                total += difference;
            }
        }
        const std::string path = std::string(argv[2]) + "\\side-by-side-" + name + ".png";
        writeBgrPng(std::wstring(path.begin(), path.end()), UINT(f.width * 2), UINT(f.height), both);
        std::printf("%-12s fenwyr | reference: largest difference %3d, mean %.2f per channel\n", name.c_str(), largest,
                    total / (double(f.width) * f.height * 3));
    }
    CoTaskMemFree(resolutions);
    setFrameCallbackEx(device, nullptr, nullptr);
    uninit();
    return status;
}
