/* fenwyr: video capture devices (DirectShow) behind a flat C interface.
 *
 * Call every function from the thread that called init. Devices are named by their index
 * in the device table (0-based, as listDevices reports it); an index outside the table is
 * ignored: functions with a result return 0, E_INVALIDARG or a record at its defaults.
 * Result blocks are allocated with CoTaskMemAlloc; the library keeps no reference to them
 * and the host may free them with CoTaskMemFree.
 *
 * Frame callbacks run on DirectShow's streaming threads. While a call (stopCapture, uninit,
 * openDevice of an open device) waits for a running callback to return, the calling thread
 * handles messages that other threads send to it, so a callback may SendMessage to the
 * thread that stops it. From inside a frame callback, do not start, stop, open or uninit:
 * startCapture and stopCapture return VFW_E_WRONG_STATE (0x80040227) there and change nothing, openDevice
 * returns 0, uninit does nothing. To stop from a callback, signal a thread of the host's own
 * and stop from there.
 *
 * Once uninit has returned, the library may be unloaded (FreeLibrary). Unloading it while a
 * device is open is harmless too: the library then stays in memory until the process ends.
 * An exception inside the library never reaches the host: HRESULT results are then
 * E_OUTOFMEMORY (allocation failure) or E_UNEXPECTED. */
#ifndef FENWYR_H
#define FENWYR_H

#include <stddef.h>
#include <stdint.h>

#ifdef FENWYR_BUILDING
#define FENWYR_API __declspec(dllexport)
#else
#define FENWYR_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One entry of the listDevices block: 132 bytes, 4-byte aligned, no padding. */
typedef struct DeviceInfo {
    int32_t index;  /* the device's index; -1 in an entry that holds no device */
    char name[128]; /* friendly name in the process's ANSI code page, NUL-terminated, rest zero */
} DeviceInfo;

/* One stream format: 24 bytes. */
typedef struct ResolutionInfo {
    int32_t index;         /* capability index, -1 when not a capability */
    int32_t width;         /* pixels */
    int32_t height;        /* pixels, negative for a top-down image */
    int32_t bitCount;      /* bits per pixel */
    float framesPerSecond; /* frames per second */
    int32_t pixelFormat;   /* 1 RGB1, 2 RGB8, 3 RGB555, 4 RGB565, 5 RGB24, 6 RGB32, 7 MJPG, 8 YUY2, 0 other */
} ResolutionInfo;

/* Layout checks that work in C and C++ alike: a negative array size fails to compile. */
typedef char fenwyr_check_DeviceInfo_size[sizeof(DeviceInfo) == 132 ? 1 : -1];
typedef char fenwyr_check_DeviceInfo_name[offsetof(DeviceInfo, name) == 4 ? 1 : -1];
typedef char fenwyr_check_ResolutionInfo_size[sizeof(ResolutionInfo) == 24 ? 1 : -1];
typedef char fenwyr_check_ResolutionInfo_fps[offsetof(ResolutionInfo, framesPerSecond) == 16 ? 1 : -1];
typedef char fenwyr_check_ResolutionInfo_format[offsetof(ResolutionInfo, pixelFormat) == 20 ? 1 : -1];

/* The host's frame function: the frame's bytes (valid only during the call) and their count.
 * It runs on DirectShow's streaming thread. */
typedef void (*FrameArrivedCallback)(uint8_t* frame, int32_t length);

/* Initialises COM (single-threaded apartment) on this thread and appends every bindable
 * video-input device to the device table; problems are printed on standard output.
 * After uninit, a device that is enumerated again gets its earlier record back: the same
 * index, name and callback. */
FENWYR_API void init(void);

/* Closes every device (stop, end its event thread, release its objects) and balances init's COM initialisation. */
FENWYR_API void uninit(void);

/* New block of 64 DeviceInfo entries, entry k for device k; unused entries have index -1. Null when out of memory. */
FENWYR_API DeviceInfo* listDevices(void);

/* Builds the device's capture graph (rebuilding it when already open): 1 on success, 0 after a printed failure. */
FENWYR_API int32_t openDevice(int32_t device);

/* Runs the device's graph: HRESULT of IMediaControl::Run; E_POINTER unless the last openDevice of
 * the device succeeded; VFW_E_WRONG_STATE from inside a frame callback. */
FENWYR_API int32_t startCapture(int32_t device);

/* Stops the device's graph: HRESULT of IMediaControl::StopWhenReady; E_POINTER unless the last
 * openDevice of the device succeeded; VFW_E_WRONG_STATE from inside a frame callback. Returns once
 * no frame callback of the device runs any more. */
FENWYR_API int32_t stopCapture(int32_t device);

/* Sends the device's frames to callback from the next frame on; null drops them.
 * A call of the previous callback may still be running when this returns (for as long as
 * that call takes): free nothing the previous callback uses until the device is stopped. */
FENWYR_API void setFrameArrivedCallback(int32_t device, FrameArrivedCallback callback);

/* New block of 1024 ResolutionInfo records, record i for capability i (defaults -1 where none). Null when out of memory. */
FENWYR_API ResolutionInfo* getResolutions(int32_t device);

/* New ResolutionInfo of the format flowing through the open device (defaults -1, 1, 1, 1, 1.0, 0 when unknown). Null when out of memory. */
FENWYR_API ResolutionInfo* getResolution(int32_t device);

/* Selects the device's stream capability by its index; out-of-range indexes change nothing. */
FENWYR_API void setResolution(int32_t device, int32_t capability);

/* Shows the capture filter's property pages, modal: HRESULT of the dialog; E_POINTER when the device has no filter. */
FENWYR_API int32_t showFilterProperties(int32_t device);

/* Shows the grabber output pin's property pages, modal: HRESULT of the dialog; E_POINTER when the device has no pin. */
FENWYR_API int32_t showCapturePinProperties(int32_t device);

#ifdef __cplusplus
}
#endif

#endif
