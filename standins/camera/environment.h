#pragma once

namespace camera_sim {

class CameraModel;

// Settings from the CAMERA_STANDIN environment variable, for runs of a host program that
// cannot reach the controls (the demo, end-to-end tests): comma-separated name=value pairs,
// "present" or any option name, e.g. CAMERA_STANDIN=present=0 or CAMERA_STANDIN=unpaced=1,cameraId=7.
void applyEnvironment(CameraModel& model);

}  // namespace camera_sim
