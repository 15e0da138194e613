// camcli devices, formats and props: the video-capture devices through fenwyr.dll.
#include <windows.h>

#include <io.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "camera_controls.h"
#include "capture_card.h"
#include "commands.h"
#include "video_session.h"

const char* const kDevicesHelp =
    "usage: camcli devices [--json]\n"
    "Lists every video-capture device: its index, name, state and device path. The path tells\n"
    "devices of the same name apart and stays the same for a device on the same port; every\n"
    "command that takes a device D takes its index, its path or its name.\n"
    "With --json, prints the table as one JSON document (UTF-8) for scripts, each device with\n"
    "index, name, path, state and formats: its capabilities (index, width, height, bitCount,\n"
    "fps, pixelFormat, pixelFormatCode), read by opening the device; null when it cannot be\n"
    "opened. A capture card also has inputs (index, type, connector, routed, audioInput,\n"
    "audioRouted) and standards (available, current, locked), as 'camcli inputs D' shows them;\n"
    "null for a device without a crossbar or decoder. fenwyr's own messages then go to standard\n"
    "error.\n";
const char* const kFormatsHelp =
    "usage: camcli formats D\n"
    "Opens device D (index, path or name) and lists its capabilities and its current format.\n"
    "Each capability shows the rates it takes ('5-60 fps, default 60'): 'camcli grab D\n"
    "--format K --fps F' captures at any rate F within them.\n";
const char* const kPropsHelp =
    "usage: camcli props D [--pin]\n"
    "Shows the property dialog of device D's capture filter (or, with --pin, of the pin\n"
    "frames leave the library's grabber by) and prints the dialog's result.\n";
const char* const kControlsHelp =
    "usage: camcli controls D [--set NAME=VALUE]...\n"
    "Opens device D and lists its camera controls: range, step, default, value and mode (auto or\n"
    "manual), and the modes each one offers. Each --set (in the order given) sets a control to a\n"
    "value (manual), to auto, or to manual at its current value (NAME=manual), and prints what the\n"
    "device then holds, or why it refused: out of range, off its steps, no auto. The table follows.\n"
    "NAME: brightness, contrast, hue, saturation, sharpness, gamma, colorenable, whitebalance,\n"
    "backlightcompensation, gain, pan, tilt, roll, zoom, exposure (log2 seconds), iris, focus.\n"
    "A setting lasts as long as camcli has the device open: 'camcli grab D --set ...' captures\n"
    "with it. Exit code 2 when the device refused a setting.\n";

namespace {

// One format line; `rates` (the capability's range) follows the format's name when given.
void printFormat(const ResolutionInfo& f, const std::string& rates = "") {
    const char* name = pixelFormatName(f.pixelFormat, f.bitCount);
    if (rates.empty())
        std::printf("%5d %6d %6d %4d %9.3f  %s\n", f.index, f.width, f.height, f.bitCount, f.framesPerSecond, name);
    else
        std::printf("%5d %6d %6d %4d %9.3f  %-6s  %s\n", f.index, f.width, f.height, f.bitCount, f.framesPerSecond,
                    name, rates.c_str());
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

// A JSON string: quotes, backslashes and control characters escaped; UTF-8 passes as it is.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value))
        return "null";  // JSON has no infinity or NaN
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string jsonFormat(const ResolutionInfo& f) {
    return "{\"index\": " + std::to_string(f.index) + ", \"width\": " + std::to_string(f.width) +
           ", \"height\": " + std::to_string(f.height) + ", \"bitCount\": " + std::to_string(f.bitCount) +
           ", \"fps\": " + jsonNumber(f.framesPerSecond) +
           ", \"pixelFormat\": " + jsonString(pixelFormatName(f.pixelFormat, f.bitCount)) +
           ", \"pixelFormatCode\": " + std::to_string(f.pixelFormat) + "}";
}

// fenwyr prints its failures on standard output; while this lives they go to standard error,
// so that standard output carries the JSON document alone.
class StdoutToStderr {
public:
    StdoutToStderr() {
        std::fflush(stdout);
        saved_ = _dup(1);
        if (saved_ >= 0)
            _dup2(2, 1);
    }
    ~StdoutToStderr() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            _dup2(saved_, 1);
            _close(saved_);
        }
    }
    StdoutToStderr(const StdoutToStderr&) = delete;
    StdoutToStderr& operator=(const StdoutToStderr&) = delete;

private:
    int saved_ = -1;
};

std::string devicesJson() {
    const StdoutToStderr quiet;
    VideoSession session;
    std::string json = "{\"devices\": [";
    bool first = true;
    for (const auto& d : session.devices()) {
        // The state as found: reading the formats opens the device.
        const int32_t state = session.api().getDeviceState(d.index);
        std::string formats = "null", inputs = "null", standards = "null";
        if (session.api().openDevice(d.index)) {
            formats = "[";
            for (const ResolutionInfo& f : session.capabilities(d.index))
                formats += (formats.size() > 1 ? ",\n      " : "\n      ") + jsonFormat(f);
            formats += "]";
            inputs = inputsJson(session.api(), d.index);
            standards = standardsJson(session.api(), d.index);
        }
        json += std::string(first ? "\n" : ",\n") + "  {\"index\": " + std::to_string(d.index) +
                ", \"name\": " + jsonString(d.name) + ", \"path\": " + jsonString(d.path) +
                ", \"state\": " + jsonString(stateName(state)) + ",\n   \"inputs\": " + inputs +
                ",\n   \"standards\": " + standards + ",\n   \"formats\": " + formats + "}";
        first = false;
    }
    return json + "\n]}\n";
}

} // namespace

int runDevices(Arguments& args) {
    const bool json = args.take("--json");
    if (!args.empty())
        args.unknown();
    if (json) {
        std::fputs(devicesJson().c_str(), stdout);
        return 0;
    }
    VideoSession session;
    if (session.devices().empty())
        std::printf("no video-capture devices\n");
    for (const auto& d : session.devices()) {
        std::printf("%3d  %s  [%s]\n", d.index, d.name.c_str(), stateName(session.api().getDeviceState(d.index)));
        std::printf("     path: %s\n", d.path.empty() ? "(none)" : d.path.c_str());
    }
    return 0;
}

int runFormats(Arguments& args) {
    const std::string word = args.positional("device");
    if (!args.empty())
        args.unknown();
    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    const std::vector<FormatInfo> ranges = session.formatRanges(device);
    const std::vector<ResolutionInfo> capabilities = session.capabilities(device);
    std::printf("index  width height bits       fps  format  rates\n");
    // Every capability getFormats lists, in order; those getResolutions leaves out are
    // described with a VIDEOINFOHEADER2 (capture cards) and marked so.
    size_t next = 0;
    for (const FormatInfo& r : ranges) {
        for (; next < capabilities.size() && capabilities[next].index < r.index; ++next)
            printFormat(capabilities[next]);
        if (next < capabilities.size() && capabilities[next].index == r.index)
            printFormat(capabilities[next++], fpsRangeText(r));
        else
            printFormat(resolutionOf(r), fpsRangeText(r) + "  VIDEOINFOHEADER2");
    }
    for (; next < capabilities.size(); ++next)
        printFormat(capabilities[next]);
    std::printf("current:\n");
    if (ranges.size() == capabilities.size()) {
        printFormat(session.currentFormat(device));
        return 0;
    }
    // getResolution knows only VIDEOINFOHEADER formats: for the others it reports the grabber
    // unconnected, which fenwyr prints; that goes to standard error here.
    ResolutionInfo current;
    {
        StdoutToStderr quiet;
        current = session.currentFormat(device);
    }
    if (current.width == 1 && current.height == 1)
        std::printf("   a VIDEOINFOHEADER2 format (each frame's FrameInfo describes it)\n");
    else
        printFormat(current);
    return 0;
}

int runProps(Arguments& args) {
    const std::string word = args.positional("device");
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

int runControls(Arguments& args) {
    const std::string word = args.positional("device");
    std::vector<ControlSetting> settings;
    while (!args.empty()) {
        if (args.take("--set"))
            settings.push_back(parseControlSetting(args.value("--set")));
        else
            args.unknown();
    }
    VideoSession session;
    const int device = session.openArgument(word);
    if (device < 0)
        return 1;
    int code = 0;
    for (const ControlSetting& s : settings) {
        const int result = applyControlSetting(session.api(), device, s);
        code = result > code ? result : code;
    }
    if (!printControls(session.api(), device))
        std::printf("device %d has no camera controls\n", device);
    return code;
}
