#pragma once
#include <cstdint>
#include <string>

#include "fenwyr_api.h"

// A capture card's inputs and video standard, for camcli inputs and devices --json.

// An AnalogVideo_ bit by its name (NTSC_M, PAL_B, SECAM_L, ...; any case, '-' for '_'); 0 when
// the name is none of them.
int32_t videoStandardOf(const std::string& name);
// The name of one AnalogVideo_ bit; "?" for anything else.
const char* videoStandardName(int32_t standard);

// The open device's inputs and standard as JSON values: arrays and objects, or null when the
// device has no crossbar (no decoder).
std::string inputsJson(const FenwyrApi& api, int device);
std::string standardsJson(const FenwyrApi& api, int device);
