/* Test controls of the simulated camera (uEye_api_64.dll stand-in).
 *
 * The stand-in is one monochrome 1280 x 1024 camera. These functions configure it and observe
 * what reached it; the camera operations themselves are exported by ordinal.
 *
 * Facts a test may rely on:
 * - The camera handle written by open is 1.
 * - Image memory ids count up from 1 and start again at 1 after simReset.
 * - A frame is the crop of one fixed test chart at the current AOI; bytes 0-3 hold the frame
 *   counter (uint32, little-endian), 0 for the first frame after each start of live capture.
 * - Statistics count from the last simReset (or the process start).
 */
#ifndef CAMERA_CONTROLS_H
#define CAMERA_CONTROLS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Back to one present, closed camera with defaults: frees every image memory, clears the call
 * log, forced statuses, options, statistics and last errors. */
void simReset(void);

/* 0: opening the camera fails as with no camera attached (an open camera stays open). */
void simSetCameraPresent(int present);

/* The next `calls` calls of that ordinal return `status` without doing anything, setting the
 * last error (text "forced status"); calls = -1: every call; calls = 0: clear. */
void simForceStatus(int ordinal, int status, int calls);

/* Options (unknown names are ignored):
 *   "pixelClockCount" N  the pixel-clock list has N distinct entries (5, 6, ... MHz); negative: default list
 *   "fineExposure"    0/1 whether the fine exposure increment is supported (default 1)
 *   "unpaced"         0/1 every wait for an image has a frame at once (default 0)
 *   "cameraId"        0..255, the id in the camera information (default 1)
 *   "log"             0/1 whether calls are recorded (default 1) */
void simSetOption(const char* name, double value);

/* The call log, one line per call ended by '\n', NUL-terminated and cut to `size`.
 * Returns the length of the whole log without the NUL. */
int simCallLog(char* buffer, int size);

void simClearLog(void);

/* Frames written into image memories and frames dropped for want of a free memory (both since the
 * last reset), and image memories allocated and not yet freed. Any pointer may be null. */
void simGetStats(long long* framesProduced, long long* framesDropped, int* liveMemories);

#ifdef __cplusplus
}
#endif

#endif
