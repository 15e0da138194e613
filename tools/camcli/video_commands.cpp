// camcli devices, formats and props: the video-capture devices through fenwyr.dll.
#include <windows.h>

#include <cstdio>
#include <string>

#include "commands.h"
#include "video_session.h"

const char* const kDevicesHelp =
    "usage: camcli devices\n"
    "Lists the index and name of every video-capture device.\n";
const char* const kFormatsHelp =
    "usage: camcli formats D\n"
    "Opens device D and lists its capabilities and its current format.\n";
const char* const kPropsHelp =
    "usage: camcli props D [--pin]\n"
    "Shows the property dialog of device D's capture filter (or, with --pin, of the pin\n"
    "frames leave the library's grabber by) and prints the dialog's result.\n";

namespace {

void printFormat(const ResolutionInfo& f) {
    std::printf("%5d %6d %6d %4d %9.3f  %s\n", f.index, f.width, f.height, f.bitCount, f.framesPerSecond,
                pixelFormatName(f.pixelFormat, f.bitCount));
}

const char* resultName(int32_t hr) {
    switch (static_cast<unsigned long>(hr)) {
    case 0x00000000UL: return "S_OK";
    case 0x00000001UL: return "S_FALSE";
    case 0x80004001UL: return "E_NOTIMPL";
    case 0x80004002UL: return "E_NOINTERFACE";
    case 0x80004003UL: return "E_POINTER";
    case 0x80004005UL: return "E_FAIL";
    case 0x8007000EUL: return "E_OUTOFMEMORY";
    case 0x80070057UL: return "E_INVALIDARG";
    case 0x80040154UL: return "REGDB_E_CLASSNOTREG";
    default: return "an error";
    }
}

} // namespace

int runDevices(Arguments& args) {
    if (!args.empty())
        args.unknown();
    VideoSession session;
    if (session.devices().empty())
        std::printf("no video-capture devices\n");
    for (const auto& d : session.devices())
        std::printf("%3d  %s\n", d.index, d.name.c_str());
    return 0;
}

int runFormats(Arguments& args) {
    const std::string word = args.positional("device index");
    if (!args.empty())
        args.unknown();
    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    std::printf("index  width height bits       fps  format\n");
    for (const ResolutionInfo& f : session.capabilities(device))
        printFormat(f);
    std::printf("current:\n");
    printFormat(session.currentFormat(device));
    return 0;
}

int runProps(Arguments& args) {
    const std::string word = args.positional("device index");
    const bool pin = args.take("--pin");
    if (!args.empty())
        args.unknown();
    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    const int32_t hr = pin ? session.api().showCapturePinProperties(device) : session.api().showFilterProperties(device);
    std::printf("%s properties: 0x%08lX %s\n", pin ? "pin" : "filter", static_cast<unsigned long>(hr), resultName(hr));
    return hr < 0 ? 1 : 0;
}
