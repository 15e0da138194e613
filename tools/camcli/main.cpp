// camcli: the host program people run first. It loads tarvik.dll and fenwyr.dll
// by file name and reaches every export by name, as a host in any language would.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "arguments.h"
#include "commands.h"

namespace {

const char* const kUsage =
    "usage: camcli <command> [options]\n"
    "commands:\n"
    "  devices      list the video-capture devices\n"
    "  formats D    list the capabilities and current format of device D\n"
    "  grab D       capture frames from device D to PNG files\n"
    "  props D      show the property dialog of device D\n"
    "  industrial   open the industrial camera, show its ranges, capture frames to PNG\n"
    "Run 'camcli <command> --help' for the options of a command.\n";

struct Command {
    const char* name;
    int (*run)(Arguments&);
    const char* const* help;
};

const Command kCommands[] = {
    {"devices", runDevices, &kDevicesHelp},
    {"formats", runFormats, &kFormatsHelp},
    {"grab", runGrab, &kGrabHelp},
    {"props", runProps, &kPropsHelp},
    {"industrial", runIndustrial, &kIndustrialHelp},
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(kUsage, stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) != 0)
            continue;
        Arguments args(argc, argv, 2);
        if (args.wantsHelp()) {
            std::fputs(*command.help, stdout);
            return 0;
        }
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        try {
            return command.run(args);
        } catch (const UsageError& e) {
            std::printf("camcli %s: %s (see 'camcli %s --help')\n", command.name, e.what(), command.name);
            return 2;
        } catch (const std::exception& e) {
            std::printf("camcli %s: %s\n", command.name, e.what());
            return 1;
        }
    }
    std::printf("camcli: unknown command '%s' (see 'camcli --help')\n", argv[1]);
    return 2;
}
