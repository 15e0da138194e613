// camcli: the host program people run first. It loads tarvik.dll and fenwyr.dll
// by file name and reaches every export by name, as a host in any language would.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "utf8.h"

namespace {

const char* const kUsage =
    "usage: camcli <command> [options]\n"
    "commands:\n"
    "  devices      list the video-capture devices\n"
    "  formats D    list the capabilities and current format of device D\n"
    "  grab D       capture frames from device D to PNG files\n"
    "  props D      show the property dialog of device D\n"
    "  controls D   list device D's camera controls, or set them\n"
    "  inputs D     list capture card D's inputs and video standard, or choose them\n"
    "  watch D      capture from device D and report what happens to it: events, stalls, recoveries\n"
    "  industrial   open the industrial camera, show its ranges, capture frames to PNG\n"
    "  preview D    show device D's live picture in a window (--industrial: the industrial camera)\n"
    "D is a device's index, path or name, as 'camcli devices' shows them.\n"
    "grab, watch and preview take --stall MS: a device silent for MS is recovered by fenwyr.\n"
    "Run 'camcli <command> --help' for the options of a command; 'camcli --version' for the versions.\n"
    "Exit codes: 0 done, 1 a device could not be opened, 2 bad arguments,\n"
    "3 the watched device was lost (watch without --stall).\n";

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
    {"controls", runControls, &kControlsHelp},
    {"inputs", runInputs, &kInputsHelp},
    {"watch", runWatch, &kWatchHelp},
    {"industrial", runIndustrial, &kIndustrialHelp},
    {"preview", runPreview, &kPreviewHelp},
};

// The command line in UTF-8: the code-page argv cannot hold every device name or folder.
std::vector<std::string> utf8Arguments() {
    std::vector<std::string> words;
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            words.push_back(toUtf8(wide[i]));
        LocalFree(wide);
    }
    return words;
}

// A console shows camcli's UTF-8 as such while it runs; the console gets its code page back.
struct Utf8Console {
    UINT previous = 0;
    Utf8Console() {
        DWORD mode = 0;
        if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) && (previous = GetConsoleOutputCP()))
            SetConsoleOutputCP(CP_UTF8);
    }
    ~Utf8Console() {
        if (previous)
            SetConsoleOutputCP(previous);
    }
};

int run(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(kUsage, stdout);
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version"))
        return printVersions();
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

} // namespace

int main() {
    std::vector<std::string> words = utf8Arguments();
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    const Utf8Console console;
    const int code = run(static_cast<int>(words.size()), argv.data());
    std::fflush(stdout);
    return code;
}
