/* tarvik: one industrial camera through the vendor's camera API (uEye_api_64.dll).
 *
 * Flat C interface for hosts in any language. Every call runs on the caller's
 * thread; calls on one context are made one at a time. Values pass through in
 * the camera API's own units. Setters report a rejected value with one line on
 * standard output ("Error setting <what>: <text> - <code>").
 * A null context or null host pointer is refused: nothing is written, and the
 * call returns its failure value (-1 id, 0 frame, non-zero status, 0 getter). */
#ifndef TARVIK_H
#define TARVIK_H

#include <stddef.h>
#include <stdint.h>

#include "tarvik_version.h" /* TARVIK_VERSION "x.y.z" and its parts */

#ifdef __cplusplus
extern "C" {
#define TARVIK_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define TARVIK_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(TARVIK_BUILD)
#define TARVIK_API __declspec(dllexport)
#else
#define TARVIK_API __declspec(dllimport)
#endif

/* An opened camera; owned by the library from findAvailableCamera to closeCamera. */
typedef struct CameraContext CameraContext;

/* Area of interest in sensor pixels. */
typedef struct AoiRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} AoiRect;

typedef struct AoiSize {
    int32_t width;
    int32_t height;
} AoiSize;

/* Filled by aoiInfo; a group whose camera query fails keeps what the host put there. */
typedef struct AoiInfoRecord {
    AoiRect current;
    AoiSize minimum;
    AoiSize maximum;
    AoiSize increment;
} AoiInfoRecord;

/* A range as the camera reports it: minimum, maximum, step. */
typedef struct RangeRecord {
    double minimum;
    double maximum;
    double step;
} RangeRecord;

TARVIK_STATIC_ASSERT(sizeof(AoiRect) == 16, "AoiRect is 16 bytes");
TARVIK_STATIC_ASSERT(offsetof(AoiRect, width) == 8 && offsetof(AoiRect, height) == 12, "AoiRect layout");
TARVIK_STATIC_ASSERT(sizeof(AoiInfoRecord) == 40, "AoiInfoRecord is 40 bytes");
TARVIK_STATIC_ASSERT(offsetof(AoiInfoRecord, minimum) == 16, "AoiInfoRecord minimum at 16");
TARVIK_STATIC_ASSERT(offsetof(AoiInfoRecord, maximum) == 24, "AoiInfoRecord maximum at 24");
TARVIK_STATIC_ASSERT(offsetof(AoiInfoRecord, increment) == 32, "AoiInfoRecord increment at 32");
TARVIK_STATIC_ASSERT(sizeof(RangeRecord) == 24 && offsetof(RangeRecord, step) == 16, "RangeRecord layout");

/* Largest number of pixel clocks getPixelClockRange writes: a 150-entry array always suffices. */
#define TARVIK_MAX_PIXEL_CLOCKS 150

/* --- Camera and capture --- */

/* Opens the first available camera in 8-bit mono. Returns a new context, or null when none opens. */
TARVIK_API CameraContext* findAvailableCamera(void);
/* Stops capture, frees the image memories and closes the camera; frees ctx. Returns the close status (0 = ok). */
TARVIK_API int32_t closeCamera(CameraContext* ctx);
/* The camera's user id (0..255), or -1 when the camera cannot be asked. */
TARVIK_API int32_t getCameraId(CameraContext* ctx);
/* Writes the 12-byte serial-number text (not NUL-terminated) to name; 12 zero bytes on failure. */
TARVIK_API void getCameraName(CameraContext* ctx, char* name);
/* Sets the AOI and sizes the two image memories to it. Prints an error line ("Error setting aoi: ")
 * if the camera refuses the AOI (the old AOI and memories stay) or cannot allocate or queue an
 * image memory for it (only the memories it could make are kept, possibly none). */
TARVIK_API void setAoi(CameraContext* ctx, const AoiRect* aoi);
/* Fills the current AOI and the AOI size limits and increment. */
TARVIK_API void aoiInfo(CameraContext* ctx, AoiInfoRecord* info);
/* Starts live capture; needs a prior setAoi (the image memories are made there).
 * Returns the camera status (0 = ok). */
TARVIK_API int32_t startCapture(CameraContext* ctx);
/* Stops live capture, waiting until it has stopped. Returns the camera status (0 = ok). */
TARVIK_API int32_t stopCurrentCapture(CameraContext* ctx);
/* Waits up to 1000 ms for the next frame and copies it to destination.
 * The destination must hold width x height bytes of the AOI of the last successful setAoi.
 * Returns 1 when a frame was copied, 0 otherwise. */
TARVIK_API int32_t captureFrame(CameraContext* ctx, void* destination);
/* As captureFrame, given the destination's size in bytes (capacity). Returns 0 at once, without
 * asking the camera (so no frame is taken) and without writing, when destination is null,
 * capacity is negative or smaller than width x height of the AOI of the last successful setAoi,
 * or there are no image memories (no successful setAoi yet). */
TARVIK_API int32_t captureFrameChecked(CameraContext* ctx, void* destination, int32_t capacity);

/* --- Parameters --- */

/* Writes the supported pixel clocks (MHz) to clocks, at most TARVIK_MAX_PIXEL_CLOCKS entries;
 * entries past the camera's count keep their values. Nothing is written if none are reported. */
TARVIK_API void getPixelClockRange(CameraContext* ctx, int32_t* clocks);
TARVIK_API void setPixelClock(CameraContext* ctx, int32_t clockMHz);
/* Current pixel clock in MHz, 0 on failure. */
TARVIK_API int32_t getCurrentPixelClock(CameraContext* ctx);
/* Frame period range in seconds (minimum, maximum, step); zeros on failure. */
TARVIK_API void getFpsRange(CameraContext* ctx, RangeRecord* range);
/* Sets the frame rate (frames per second). Returns the rate actually set, 0 on failure.
 * 32768.0 is the camera API's query value: it sets nothing and returns the current rate. */
TARVIK_API double setFps(CameraContext* ctx, double fps);
/* Current frame rate (frames per second), 0 on failure. */
TARVIK_API double getCurrentFps(CameraContext* ctx);
/* Exposure range in milliseconds (minimum, maximum, increment; the fine increment when the
 * camera has one); zeros on failure. */
TARVIK_API void getExposureRange(CameraContext* ctx, RangeRecord* range);
/* Current exposure in milliseconds, 0 on failure. */
TARVIK_API double getCurrentExposure(CameraContext* ctx);
TARVIK_API void setExposure(CameraContext* ctx, double exposureMs);
/* Gamma in the camera's units. */
TARVIK_API void setGamma(CameraContext* ctx, int32_t gamma);
/* Sets the master, red, green and blue gains all to gain (camera units). The camera API's
 * reserved values are refused without calling the camera: 0x8000 (32768, its master-gain query)
 * and -1 (its "leave unchanged") print "Error setting gain: <value> is a reserved value, not a
 * gain - -1" and change nothing. */
TARVIK_API void setGain(CameraContext* ctx, int32_t gain);
/* Current master gain (camera units). */
TARVIK_API int32_t getGain(CameraContext* ctx);

#ifdef __cplusplus
}
#endif

#endif
