#pragma once
#include "arguments.h"

// Each command returns camcli's exit code: 0 done, 1 the device could not be
// opened, 2 bad arguments (thrown as UsageError), 3 the watched device was lost (watch without
// --stall).
int runDevices(Arguments& args);
// --version: camcli's version and the version resource of each DLL the loader finds.
int printVersions();
int runFormats(Arguments& args);
int runGrab(Arguments& args);
int runProps(Arguments& args);
int runControls(Arguments& args);
int runInputs(Arguments& args);
int runWatch(Arguments& args);
int runIndustrial(Arguments& args);
int runPreview(Arguments& args);
// The industrial camera in the preview window, for N seconds (0: until it is closed).
int runIndustrialPreview(double seconds);

extern const char* const kDevicesHelp;
extern const char* const kFormatsHelp;
extern const char* const kGrabHelp;
extern const char* const kPropsHelp;
extern const char* const kControlsHelp;
extern const char* const kInputsHelp;
extern const char* const kWatchHelp;
extern const char* const kIndustrialHelp;
extern const char* const kPreviewHelp;
