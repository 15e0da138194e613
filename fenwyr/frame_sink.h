#pragma once
#include <wrl/client.h>

#include "guids.h"

class SampleHandler;

// fenwyr's own renderer for the connections the platform's sample grabber refuses: the Sample
// Grabber documents that it never connects with a FORMAT_VideoInfo2 type, whatever media type it
// is given, and many capture cards describe some or all of their formats only that way. It takes
// any video type with a VIDEOINFOHEADER or VIDEOINFOHEADER2 format block and hands each sample
// to the device's handler exactly as the grabber's buffer callback does (start time in seconds,
// the sample's own bytes, its length), on the upstream streaming thread. A sample that brings a new
// media type becomes the connection's type and gives the handler its layout first. It does not
// wait on the clock, and it reports the end of the stream as a renderer does (EC_COMPLETE, once
// running: an end that came while paused is reported at Run, one inside a flush never).
namespace frame_sink {

// A new sink filter with one input pin, "In". The handler is called without a reference being
// taken (the device's handler outlives every graph); null until setCallback.
Microsoft::WRL::ComPtr<IBaseFilter> create();
// From the next sample on; null stops the calls. Fails for a filter create() did not make.
HRESULT setCallback(IBaseFilter* sink, SampleHandler* handler);

}  // namespace frame_sink
