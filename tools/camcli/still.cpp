// camcli still: one still image from a device's still pin (takeStill), to PNG.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "frame_image.h"
#include "png_writer.h"
#include "utf8.h"
#include "video_session.h"

const char* const kStillHelp =
    "usage: camcli still D [--format K] [--out DIR]\n"
    "Opens device D, lists the capabilities of its still pin (the larger pictures many cameras take\n"
    "as stills, often with a button of their own), selects still capability K if given, starts the\n"
    "device, triggers one still with the software trigger (takeStill) and writes it to DIR (default\n"
    "the current folder) as still_D_WIDTHxHEIGHT.png. A device without a still pin ends camcli\n"
    "with exit code 1, a K it does not have with 2; so does no still within 5 s with 1.\n";

namespace {

constexpr int32_t kUnsupported = static_cast<int32_t>(0x80070490);
constexpr int32_t kTooSmall = static_cast<int32_t>(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));

}  // namespace

int runStill(Arguments& args) {
    const std::string word = args.positional("device");
    long long capability = -1;
    std::string outDir = ".";
    while (!args.empty()) {
        if (args.take("--format"))
            capability = args.integer("--format", 0, 1023);
        else if (args.take("--out"))
            outDir = args.value("--out");
        else
            args.unknown();
    }
    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    const FenwyrApi& api = session.api();
    if (api.getStillFormats(device, nullptr, 0) == kUnsupported) {
        std::printf("camcli: device %d has no still pin\n", device);
        return 1;
    }
    std::printf("still capabilities of device %d:\nindex  width height bits  format\n", device);
    for (const FormatInfo& f : stillFormats(api, device))
        std::printf("%5d %6d %6d %4d  %s\n", f.index, f.width, f.height, f.bitCount,
                    pixelFormatName(f.pixelFormat, f.bitCount));
    if (capability >= 0) {
        const int32_t chosen = api.setStillFormat(device, static_cast<int32_t>(capability));
        if (chosen < 0) {
            std::printf("camcli: device %d refused still capability %lld (0x%08lX)\n", device, capability,
                        static_cast<unsigned long>(chosen));
            return chosen == E_INVALIDARG ? 2 : 1;
        }
    }
    api.setOutputFormat(device, FENWYR_OUTPUT_BGR24);
    const int32_t started = api.startCapture(device);
    if (started < 0) {
        std::printf("camcli: device %d did not start (0x%08lX)\n", device, static_cast<unsigned long>(started));
        return 1;
    }
    std::vector<uint8_t> still(1024 * 1024);
    FrameInfo info{};
    int32_t taken = api.takeStill(device, still.data(), static_cast<int32_t>(still.size()), &info, 5000);
    if (taken == kTooSmall && info.length > 0) {
        // The still waits for the next call, which takes it without triggering again.
        still.resize(static_cast<size_t>(info.length));
        taken = api.takeStill(device, still.data(), static_cast<int32_t>(still.size()), &info, 5000);
    }
    api.stopCapture(device);
    if (taken != S_OK) {
        std::printf("camcli: no still from device %d (0x%08lX)\n", device, static_cast<unsigned long>(taken));
        return 1;
    }
    still.resize(static_cast<size_t>(info.length));
    std::vector<uint8_t> pixels;
    GUID format{};
    if (!pngPixels(info, still, pixels, format)) {
        std::printf("camcli: the still of device %d is no picture\n", device);
        return 1;
    }
    const std::string path = outDir + "/still_" + std::to_string(device) + "_" + std::to_string(info.width) + "x" +
                             std::to_string(info.height) + ".png";
    writePng(fromUtf8(path), static_cast<UINT>(info.width), static_cast<UINT>(info.height), format, pixels.data(),
             static_cast<UINT>(info.stride));
    std::printf("still %dx%d written to %s\n", info.width, info.height, path.c_str());
    return 0;
}
