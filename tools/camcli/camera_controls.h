#pragma once
#include <cstdint>
#include <string>

#include "fenwyr_api.h"

// A control's name on the command line (brightness, focus, ...); null for an unknown id.
const char* controlName(int32_t control);

// One NAME=VALUE, NAME=auto or NAME=manual from the command line.
struct ControlSetting {
    std::string text;  // as given, for messages
    int32_t control;   // a FENWYR_CONTROL_ id
    enum { Value, Auto, Manual } kind;
    int32_t value;     // for Value
};

// Parses one --set word; a UsageError for an unknown name or a value that is no whole number.
ControlSetting parseControlSetting(const std::string& word);

// Applies a setting to an open device and prints its outcome, e.g. "brightness: 10 (manual)" or
// why the device refused it. 0 applied, 2 refused (the value, the mode or the control itself),
// 1 failed otherwise.
int applyControlSetting(const FenwyrApi& api, int device, const ControlSetting& setting);

// Prints a table of every control the open device has; false when it has none.
bool printControls(const FenwyrApi& api, int device);
