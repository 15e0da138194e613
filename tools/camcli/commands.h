#pragma once
#include "arguments.h"

// Each command returns camcli's exit code: 0 done, 1 the device could not be
// opened, 2 bad arguments (thrown as UsageError).
int runIndustrial(Arguments& args);

extern const char* const kIndustrialHelp;
