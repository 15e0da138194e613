#pragma once
#include <cstdint>

#include "capture_device.h"
#include "fenwyr.h"

// A capture card's inputs: the video inputs of the graph's crossbar and which one reaches the
// capture filter.
namespace crossbar_inputs {

// See getInputs (capacity and inputs already checked).
HRESULT list(CaptureDevice& device, InputInfo* inputs, int32_t capacity);
// See selectInput. A recovered device gets the input back.
HRESULT select(CaptureDevice& device, int32_t input);

}  // namespace crossbar_inputs
