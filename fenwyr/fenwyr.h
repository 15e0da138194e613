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
 * thread that stops it. A call that must wait while its thread is handling a message another
 * thread sent first releases the sender, as ReplyMessage(0) does: the sender may be the very
 * callback it waits for. From inside a frame callback, do not start, stop, open or uninit:
 * startCapture and stopCapture return VFW_E_WRONG_STATE (0x80040227) there and change nothing, openDevice
 * returns 0, uninit does nothing. To stop from a callback, signal a thread of the host's own
 * and stop from there. To act on a frame or an event from a GUI thread, PostMessage to it.
 *
 * While an open, close, start, stop or format change of a device handles sent messages, a
 * message handler cannot nest another of these on the same device: startCapture,
 * stopCapture and setFormat return VFW_E_WRONG_STATE, openDevice returns 0 and uninit does
 * nothing. While uninit closes the devices, a message handler can open or start none of them
 * (openDevice returns 0, startCapture VFW_E_WRONG_STATE), so uninit leaves every device closed.
 *
 * Once uninit has returned, the library may be unloaded (FreeLibrary). Unloading it while a
 * device is open is harmless too: the library then stays in memory until the process ends.
 * An exception inside the library never reaches the host: HRESULT results are then
 * E_OUTOFMEMORY (allocation failure) or E_UNEXPECTED. */
#ifndef FENWYR_H
#define FENWYR_H

#include <stddef.h>
#include <stdint.h>

#include "fenwyr_version.h" /* FENWYR_VERSION "x.y.z" and its parts */

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

/* ---- Frames with their description, and frames for hosts that poll ------------------------
 * These exports may be called from any thread (grabFrame) or from the init thread
 * (setFrameCallbackEx); they work beside the callback above. */

/* One frame's description: 64 bytes, no padding. */
typedef struct FrameInfo {
    int32_t width;       /* pixels */
    int32_t height;      /* pixels, always positive */
    int32_t stride;      /* bytes per stored row of the first plane: RGB rows rounded up to 4 bytes,
                            packed YUV width x bits / 8, planar YUV (NV12, YV12, I420) the luma row
                            (width); 0 for compressed data */
    int32_t bottomUp;    /* 1 when the first stored row is the bottom of the picture (RGB with a
                            positive biHeight) */
    int32_t pixelFormat; /* the same codes as ResolutionInfo.pixelFormat */
    uint32_t fourcc;     /* the subtype's FOURCC for FOURCC subtypes (YUY2, NV12, MJPG, ...); 0 for RGB */
    int32_t length;      /* bytes in this frame */
    int32_t reserved;    /* 0 */
    int64_t sampleTime;  /* the sample's start in stream time, 100 ns units; 0 when it carries none;
                            the first frames after a start may be negative */
    int64_t arrivalTime; /* when fenwyr received it: QueryPerformanceCounter in 100 ns units */
    uint64_t sequence;   /* 0 for the first frame after each startCapture, then +1 for every frame
                            fenwyr receives: a gap means frames the host missed */
    int64_t dropped;     /* frames the device reports dropped since the graph ran (sampled every
                            250 ms); -1 when the device does not report drops */
} FrameInfo;

typedef char fenwyr_check_FrameInfo_size[sizeof(FrameInfo) == 64 ? 1 : -1];
typedef char fenwyr_check_FrameInfo_length[offsetof(FrameInfo, length) == 24 ? 1 : -1];
typedef char fenwyr_check_FrameInfo_sampleTime[offsetof(FrameInfo, sampleTime) == 32 ? 1 : -1];
typedef char fenwyr_check_FrameInfo_sequence[offsetof(FrameInfo, sequence) == 48 ? 1 : -1];
typedef char fenwyr_check_FrameInfo_dropped[offsetof(FrameInfo, dropped) == 56 ? 1 : -1];

/* The host's frame function with the frame's description and the host's own pointer. It runs on
 * DirectShow's streaming thread; frame and info are valid only during the call. */
typedef void (*FrameCallbackEx)(const uint8_t* frame, const FrameInfo* info, void* userData);

/* Sends the device's frames, with their description, to callback (null: to none) from the next
 * frame on; the plain callback, if set, gets them too. A frame never reaches a callback with
 * another callback's userData. When this returns, the previous callback runs on no thread and is
 * not called again, so the host may free its userData at once; while it waits for a running call
 * it handles messages sent to this thread. Called from inside that device's own callback it does
 * not wait (it cannot wait for itself): the running call is the last one. S_OK, or E_INVALIDARG
 * outside the table. */
FENWYR_API int32_t setFrameCallbackEx(int32_t device, FrameCallbackEx callback, void* userData);

/* Copies the newest frame this host has not grabbed yet into buffer and describes it in info,
 * waiting up to timeoutMs (0: no wait) for one. For hosts that cannot take callbacks on foreign
 * threads: it may be called from any thread, also while another thread stops the device.
 * The newest-frame copy starts with the device's first grabFrame call. A call that has waited
 * 50 ms handles the messages other threads send to its thread while it goes on waiting. Results:
 *   S_OK;
 *   HRESULT_FROM_WIN32(ERROR_TIMEOUT) (0x800705B4) when no frame came in time;
 *   HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) (0x8007007A) when capacity is smaller than the
 *     frame: info is filled (info->length is the size needed) and the frame stays for the next call;
 *   VFW_E_NOT_RUNNING (0x80040226) at once when the device is not running and no unread frame is
 *     left; a stopCapture on another thread ends a waiting call with it;
 *   VFW_E_WRONG_STATE (0x80040227) at once inside this device's own frame callback, where the
 *     next frame cannot come before the callback returns;
 *   E_INVALIDARG outside the table or for a negative capacity or timeout;
 *   E_POINTER for a null buffer or info. */
FENWYR_API int32_t grabFrame(int32_t device, uint8_t* buffer, int32_t capacity, FrameInfo* info,
                             int32_t timeoutMs);

/* ---- Pictures: frames converted by the library ----------------------------------------------
 * The frames of setFrameCallbackEx and grabFrame come in the device's own encoding (NATIVE) or
 * as a picture: top-down (bottomUp 0), rows packed (stride = width x bytes per pixel),
 * length = stride x height, fourcc 0, pixelFormat as below; every other FrameInfo field as for
 * the native frame. The plain callback always gets the device's bytes. YUV sources are taken
 * as BT.601 limited range (what capture devices send); MJPG frames are decoded in the JPEG's own
 * full range; GRAY8 from a YUV source is its luma plane unchanged, from RGB the full-range
 * BT.601 luma. Sources: RGB1, RGB4, RGB8 (with their colour tables), RGB555, RGB565, RGB24,
 * RGB32, YUY2, UYVY, NV12, I420, YV12, Y800 (also as GREY or 'Y8  ') and MJPG. A frame that
 * cannot be converted (another subtype, a biBitCount that disagrees with the subtype, fewer bytes
 * than its rows, a corrupt, truncated or damaged JPEG, a picture of more than 2^31 - 1 bytes) is not
 * delivered: its sequence number is the gap. */
enum {
    FENWYR_OUTPUT_NATIVE = 0, /* the device's own bytes */
    FENWYR_OUTPUT_BGR24 = 1,  /* B,G,R per pixel; pixelFormat 5 (the platform's RGB24 byte order) */
    FENWYR_OUTPUT_BGRA32 = 2, /* B,G,R,A (A = 255); pixelFormat 6 */
    FENWYR_OUTPUT_RGB24 = 3,  /* R,G,B; pixelFormat FENWYR_PIXEL_RGB */
    FENWYR_OUTPUT_RGBA32 = 4, /* R,G,B,A (A = 255); pixelFormat FENWYR_PIXEL_RGBA */
    FENWYR_OUTPUT_GRAY8 = 5   /* luma; pixelFormat FENWYR_PIXEL_GRAY8 */
};

/* The pixelFormat codes of pictures that no device subtype has. */
enum { FENWYR_PIXEL_RGB = 9, FENWYR_PIXEL_RGBA = 10, FENWYR_PIXEL_GRAY8 = 11 };

/* Chooses what the device's frames become, from the next frame on; any thread, at any time, also
 * while frames flow (a frame is never half converted). The choice lasts across stops, formats and
 * re-opens. S_OK; E_INVALIDARG outside the table or for an unknown output. */
FENWYR_API int32_t setOutputFormat(int32_t device, int32_t output);

/* The device's FENWYR_OUTPUT_ value; -1 outside the table. Any thread. */
FENWYR_API int32_t getOutputFormat(int32_t device);

/* ---- Which device is which, and what happens to it -----------------------------------------
 * Call these from the init thread, except getDeviceState and getDeviceError (any thread). */

/* One device's identity: 772 bytes. */
typedef struct DeviceIdentity {
    int32_t index;  /* the device's index */
    char name[256]; /* friendly name in UTF-8, NUL-terminated, cut at a character boundary */
    char path[512]; /* the device path in UTF-8 (unique per device, stable for the same device on
                       the same port); "" when the device has none */
} DeviceIdentity;

typedef char fenwyr_check_DeviceIdentity_size[sizeof(DeviceIdentity) == 772 ? 1 : -1];
typedef char fenwyr_check_DeviceIdentity_path[offsetof(DeviceIdentity, path) == 260 ? 1 : -1];

/* Fills identity for the device (also after uninit, from what init read). S_OK; E_INVALIDARG
 * outside the table; E_POINTER for a null identity. */
FENWYR_API int32_t getDeviceIdentity(int32_t device, DeviceIdentity* identity);

/* The lowest index of a present device whose path equals pathOrName (ASCII case ignored), else
 * whose UTF-8 name equals it exactly; -1 when there is none, or for a null or empty text. */
FENWYR_API int32_t findDevice(const char* pathOrName);

/* Enumerates the video-input devices again, silently: appends the devices not yet in the table
 * (same path; for a device without one, same moniker), marks the devices no longer there absent,
 * and gives a device that comes back its old index. Returns how many it appended, or a negative
 * HRESULT. A device that cannot be bound is skipped. */
FENWYR_API int32_t refreshDevices(void);

/* Device events, with detail: */
enum {
    FENWYR_DEVICE_LOST = 1,     /* unplugged: frames stop; state FENWYR_STATE_LOST */
    FENWYR_DEVICE_ERROR = 2,    /* the stream failed; detail is the HRESULT; state FENWYR_STATE_FAILED */
    FENWYR_DEVICE_RETURNED = 3, /* a lost device is back: openDevice it again */
    FENWYR_STREAM_COMPLETE = 4  /* the stream ended */
};

/* The host's device event function. It runs on the library's one event thread (the same for every
 * device, events in the order they happened), never on a streaming thread nor inside a call the
 * host made, within 100 ms of the event. To act on an event from a GUI thread, PostMessage to it:
 * the handler may then openDevice, startCapture or stopCapture as usual. */
typedef void (*DeviceEventCallback)(int32_t device, int32_t event, int32_t detail, void* userData);

/* Sends every device's events to callback (null: to none). When this returns, the previous
 * callback runs on no thread and is not called again. Hosts that cannot take callbacks on foreign
 * threads poll getDeviceState instead. */
FENWYR_API void setDeviceEventCallback(DeviceEventCallback callback, void* userData);

enum {
    FENWYR_STATE_ABSENT = 0,  /* outside the table, or no longer present */
    FENWYR_STATE_CLOSED = 1,  /* in the table, not open (also after uninit) */
    FENWYR_STATE_STOPPED = 2, /* open, not running */
    FENWYR_STATE_RUNNING = 3,
    FENWYR_STATE_LOST = 4,    /* unplugged while open; stays so until the device is opened again */
    FENWYR_STATE_FAILED = 5   /* the stream failed; stays so until the device is opened again */
};

/* One of the FENWYR_STATE_ values. Any thread. */
FENWYR_API int32_t getDeviceState(int32_t device);

/* The HRESULT the device's stream last failed with since openDevice (FENWYR_DEVICE_ERROR's
 * detail; E_FAIL when the graph gave none), for hosts that poll getDeviceState; S_OK when it has
 * not failed; E_INVALIDARG outside the table. Any thread. */
FENWYR_API int32_t getDeviceError(int32_t device);

/* ---- Frame rates and camera controls --------------------------------------------------------
 * Call these from the init thread, on an open device. They print nothing. */

/* One stream capability with its frame-rate range: 48 bytes. */
typedef struct FormatInfo {
    int32_t index;       /* the capability index, as setResolution and setFormat take it */
    int32_t width;       /* pixels */
    int32_t height;      /* pixels, always positive */
    int32_t bitCount;
    int32_t pixelFormat; /* the same codes as ResolutionInfo.pixelFormat */
    uint32_t fourcc;     /* as in FrameInfo */
    double defaultFps;   /* from the capability's media type */
    double minFps;       /* from its MaxFrameInterval */
    double maxFps;       /* from its MinFrameInterval */
} FormatInfo;

typedef char fenwyr_check_FormatInfo_size[sizeof(FormatInfo) == 48 ? 1 : -1];
typedef char fenwyr_check_FormatInfo_defaultFps[offsetof(FormatInfo, defaultFps) == 24 ? 1 : -1];

/* Fills up to capacity records, one per capability described by a VIDEOINFOHEADER or a
 * VIDEOINFOHEADER2 (capture cards, interlaced and wide-aspect sources), and returns how many there
 * are in all: ask with capacity 0 first. Indexes are the device's capability indexes (no limit of
 * 1024); getResolutions lists only the VIDEOINFOHEADER ones and leaves the others as gaps. Negative
 * HRESULT: E_INVALIDARG outside the table or for a negative capacity; E_POINTER when the device is
 * not open, or formats is null with a non-zero capacity; else the failing platform call's. */
FENWYR_API int32_t getFormats(int32_t device, FormatInfo* formats, int32_t capacity);

/* Selects a capability at a frame rate: fps 0 keeps its default; otherwise 10^7 / fps, rounded to
 * 100 ns, must lie within the capability's frame interval range (minFps and maxFps are always
 * accepted). While the device runs it stops, changes the format and runs again; later frames have
 * the new size and rate, and their sequence goes on. A format the device takes but cannot stream
 * leaves the previous one streaming and returns the device's error. The sample grabber never
 * connects with a VIDEOINFOHEADER2 format: for those, frames reach the callbacks and grabFrame
 * through fenwyr's own sink filter instead, and getResolution reports that sink's connection;
 * FrameInfo describes every frame. S_OK; E_INVALIDARG outside the table, for
 * a capability outside the list or an fps outside its range (the device is not touched);
 * E_POINTER when the device is not open; else the failing platform call's result. */
FENWYR_API int32_t setFormat(int32_t device, int32_t capability, double fps);

/* The capability that serves a request, for setFormat(device, index, fps): its index, or -1 when
 * none does, outside the table, on a device that is not open, or for a negative or NaN field.
 * Every field that is not 0 is a requirement: the size exactly (height always positive), the
 * encoding equal to fourcc (as FormatInfo.fourcc reports it, e.g. 'MJPG' as
 * 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24), and fps within the capability's rate range as
 * setFormat judges it. Among the capabilities that meet them all, the one needing the least
 * bandwidth wins: its frame size (biSizeImage, or width x height x bitCount / 8 when that is 0)
 * times the rate asked for, or its default rate when fps is 0; the lowest index among equals. */
FENWYR_API int32_t chooseFormat(int32_t device, int32_t width, int32_t height, double fps, int32_t fourcc);

/* Camera controls, in the driver's units as the platform defines them. 0..9 through
 * IAMVideoProcAmp, 100..106 through IAMCameraControl. */
enum {
    FENWYR_CONTROL_BRIGHTNESS = 0,
    FENWYR_CONTROL_CONTRAST = 1,
    FENWYR_CONTROL_HUE = 2,
    FENWYR_CONTROL_SATURATION = 3,
    FENWYR_CONTROL_SHARPNESS = 4,
    FENWYR_CONTROL_GAMMA = 5,
    FENWYR_CONTROL_COLOR_ENABLE = 6,
    FENWYR_CONTROL_WHITE_BALANCE = 7,
    FENWYR_CONTROL_BACKLIGHT_COMPENSATION = 8,
    FENWYR_CONTROL_GAIN = 9,
    FENWYR_CONTROL_PAN = 100,
    FENWYR_CONTROL_TILT = 101,
    FENWYR_CONTROL_ROLL = 102,
    FENWYR_CONTROL_ZOOM = 103,
    FENWYR_CONTROL_EXPOSURE = 104, /* log2 seconds: -6 is 1/64 s */
    FENWYR_CONTROL_IRIS = 105,
    FENWYR_CONTROL_FOCUS = 106
};
enum { FENWYR_CONTROL_AUTO = 1, FENWYR_CONTROL_MANUAL = 2 };

/* One control's range and setting: 28 bytes. */
typedef struct ControlInfo {
    int32_t min, max, step, defaultValue;
    int32_t capsFlags; /* FENWYR_CONTROL_AUTO and/or FENWYR_CONTROL_MANUAL: what it supports */
    int32_t value;
    int32_t flags;     /* the current mode: FENWYR_CONTROL_AUTO or FENWYR_CONTROL_MANUAL */
} ControlInfo;

typedef char fenwyr_check_ControlInfo_size[sizeof(ControlInfo) == 28 ? 1 : -1];

/* Reads a control, also while the device runs. S_OK; E_PROP_ID_UNSUPPORTED (0x80070490) when the
 * device lacks it; E_INVALIDARG outside the table or for an unknown control; E_POINTER when the
 * device is not open or info is null. */
FENWYR_API int32_t getControl(int32_t device, int32_t control, ControlInfo* info);

/* Sets a control to a value (flags FENWYR_CONTROL_MANUAL) or to automatic (FENWYR_CONTROL_AUTO;
 * value is then ignored). E_INVALIDARG, without touching the device, for flags other than 1 or 2,
 * auto on a control that has none, or a manual value outside the range or off its steps
 * (min + k * step); otherwise as getControl. */
FENWYR_API int32_t setControl(int32_t device, int32_t control, int32_t value, int32_t flags);

/* ---- Supervision: streams that stall, and bringing a device back ------------------------------
 * A running device from which no frame has come for the stall time (from startCapture for the
 * first frame) becomes FENWYR_STATE_STALLED and sends FENWYR_DEVICE_STALLED once, within the stall
 * time + 150 ms; frames that resume by themselves make it RUNNING again, with
 * FENWYR_DEVICE_RECOVERED (detail 0). Watching costs the frame path only a time stamp. */
enum {
    FENWYR_DEVICE_STALLED = 5,  /* detail: milliseconds since the last frame (or since the start) */
    FENWYR_DEVICE_RECOVERED = 6 /* frames flow again; detail: recovery attempts it took (0: it resumed by itself) */
};
enum { FENWYR_STATE_STALLED = 6 }; /* running, but no frame for the stall time */
enum { FENWYR_RECOVER_AUTO = 1 };

/* Init thread, any device in the table, open or not; kept until uninit, like the callbacks.
 * stallMs 0 turns stall detection off (the default), else 100 to 600000. flags 0 or
 * FENWYR_RECOVER_AUTO: the library then calls recoverDevice itself, on the init thread, from a
 * window of its own there, so the init thread's message loop (or a wait of it that dispatches
 * posted messages) runs the attempts: after a stall, when a device lost while running returns,
 * and after a stream error; at once, then after 1, 2, 4, 8, 16 and every 30 s, until frames
 * come, the host stops or closes the device, or turns supervision off. S_OK; E_INVALIDARG
 * outside the table or for other values.
 *
 *   A host with a message loop on its init thread:
 *       setSupervision(d, 2000, FENWYR_RECOVER_AUTO);     (the loop runs the attempts)
 *   A host without one: signal the init thread from the event callback on FENWYR_DEVICE_STALLED
 *   or FENWYR_DEVICE_RETURNED, and there call
 *       setSupervision(d, 2000, 0);  ...  if (FAILED(recoverDevice(d))) retry later; */
FENWYR_API int32_t setSupervision(int32_t device, int32_t stallMs, int32_t flags);

/* Init thread, never from a callback (VFW_E_WRONG_STATE, as while another call of the device
 * runs). Rebuilds the device as the host had it: a new graph from its moniker (or, when that no
 * longer binds, from a new enumeration matching its path), the capability and rate last chosen
 * with setFormat or setResolution, the output format, every control set with setControl since the
 * open, both frame callbacks, and running if the host started it and has not stopped it. A
 * waiting grabFrame goes on waiting and gets the new graph's first frame; sequence numbers go on.
 * S_OK once the new graph runs (FENWYR_DEVICE_RECOVERED follows with the first frame);
 * HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) while the device is absent; E_POINTER when it
 * was never opened; else the failing call's HRESULT. A failed attempt counts in failedAttempts
 * and leaves the device's state as it was. */
FENWYR_API int32_t recoverDevice(int32_t device);

/* What the stream has done since openDevice: 40 bytes. */
typedef struct StreamStats {
    int64_t frames;         /* frames fenwyr received from the device since openDevice */
    int64_t missed;         /* frames lost on their way to the host: gaps in FrameInfo.sequence */
    int64_t lastFrameTime;  /* arrivalTime of the newest frame (100 ns units, FrameInfo's clock); 0: none yet */
    int32_t stalls;         /* times the stream stalled */
    int32_t recoveries;     /* recoveries that brought frames back */
    int32_t failedAttempts; /* recovery attempts that failed */
    int32_t dropped;        /* the device's own count, as FrameInfo.dropped; -1: not reported */
} StreamStats;

typedef char fenwyr_check_StreamStats_size[sizeof(StreamStats) == 40 ? 1 : -1];

/* Any thread, cheap; the counters start at 0 with each openDevice and go on across recoveries.
 * S_OK; E_INVALIDARG outside the table; E_POINTER for a null stats. */
FENWYR_API int32_t getStreamStats(int32_t device, StreamStats* stats);

/* ---- Capture cards: inputs and video standard ----------------------------------------------
 * Over the crossbar (IAMCrossbar) and the analog video decoder (IAMAnalogVideoDecoder) of the
 * device's graph: on the capture filter itself or upstream of it. Call these from the init thread,
 * on an open device, also while it runs. A device without a crossbar (getInputs, selectInput) or
 * without a decoder (getVideoStandard, setVideoStandard) answers E_PROP_ID_UNSUPPORTED (0x80070490).
 * recoverDevice routes the input last selected and sets the standard last set again. */

/* What an input is. The platform names no HDMI connector: fenwyr takes PhysConn_Video_ParallelDigital
 * (the digital input that is not SDI) as HDMI. */
enum {
    FENWYR_INPUT_OTHER = 0,
    FENWYR_INPUT_COMPOSITE = 1, /* PhysConn_Video_Composite */
    FENWYR_INPUT_SVIDEO = 2,    /* PhysConn_Video_SVideo */
    FENWYR_INPUT_TUNER = 3,     /* PhysConn_Video_Tuner */
    FENWYR_INPUT_COMPONENT = 4, /* PhysConn_Video_YRYBY and PhysConn_Video_RGB */
    FENWYR_INPUT_HDMI = 5,      /* PhysConn_Video_ParallelDigital */
    FENWYR_INPUT_SDI = 6        /* PhysConn_Video_SerialDigital */
};

/* One video input of the crossbar: 24 bytes. */
typedef struct InputInfo {
    int32_t index;       /* the crossbar's input pin, as selectInput takes it */
    int32_t type;        /* a FENWYR_INPUT_ value */
    int32_t connector;   /* the platform's PhysConn_Video_ value, as the crossbar reports it */
    int32_t routed;      /* 1 when this input reaches the capture filter now, else 0 */
    int32_t audioInput;  /* the crossbar's related audio input pin; -1 when it names none */
    int32_t audioRouted; /* 1 when audioInput reaches the crossbar's audio output now, else 0 */
} InputInfo;

typedef char fenwyr_check_InputInfo_size[sizeof(InputInfo) == 24 ? 1 : -1];
typedef char fenwyr_check_InputInfo_audioInput[offsetof(InputInfo, audioInput) == 16 ? 1 : -1];

/* Fills up to capacity records, one per video input of the crossbar in pin order, and returns how
 * many there are in all (ask with capacity 0 first). Negative HRESULT: E_INVALIDARG outside the
 * table or for a negative capacity; E_POINTER when the device is not open, or inputs is null with a
 * non-zero capacity; E_PROP_ID_UNSUPPORTED without a crossbar; else the failing platform call's. */
FENWYR_API int32_t getInputs(int32_t device, InputInfo* inputs, int32_t capacity);

/* Routes a video input (InputInfo.index) to the capture filter, and its related audio input to the
 * crossbar's audio output when the crossbar names one and can route it. Frames show the new input
 * from the device's next frame on. S_OK; E_INVALIDARG outside the table or for an index that is no
 * video input (the device is not touched); E_POINTER when the device is not open;
 * E_PROP_ID_UNSUPPORTED without a crossbar; else the crossbar's failure (when only the audio route
 * failed, the video input is routed). */
FENWYR_API int32_t selectInput(int32_t device, int32_t input);

/* The decoder's standards, as the platform's AnalogVideo_ bits (AnalogVideo_NTSC_M 0x1 ...
 * AnalogVideo_SECAM_L 0x40000 ... AnalogVideo_PAL_N_COMBO 0x100000): every standard it offers in
 * *available, the one it decodes now in *current, and in *locked 1 when it has locked onto a signal,
 * 0 when not, -1 when it does not tell. S_OK; E_INVALIDARG outside the table; E_POINTER when the
 * device is not open or a pointer is null; E_PROP_ID_UNSUPPORTED without a decoder; else the
 * failing platform call's. */
FENWYR_API int32_t getVideoStandard(int32_t device, int32_t* available, int32_t* current, int32_t* locked);

/* Sets the decoder's standard: exactly one AnalogVideo_ bit the decoder offers, else E_INVALIDARG
 * (the device is not touched); otherwise as getVideoStandard, or the decoder's own refusal (some
 * decoders take a new standard only while stopped). The frame size may change with it: read
 * getFormats again. */
FENWYR_API int32_t setVideoStandard(int32_t device, int32_t standard);

/* ---- Still images -----------------------------------------------------------------------------
 * Many cameras have a still pin (PIN_CATEGORY_STILL) with larger sizes than their stream, a button,
 * and a software trigger (IAMVideoControl). openDevice connects such a pin beside the stream, on a
 * branch of its own (still pin -> sample grabber -> null renderer): stills come on the still pin's
 * thread and never hold up the stream's frames. Where the device allows it, openDevice turns its
 * external trigger (the button) on. A device without a still pin gets no branch (its graph stays as
 * without stills) and answers E_PROP_ID_UNSUPPORTED (0x80070490). The still format chosen, the still
 * callback and the output format last across recoverDevice. Stills come only while the device runs.
 * Their FrameInfo is as for frames, with sequence counting the stills since startCapture, sampleTime
 * as the device stamps it (0 when it does not) and dropped -1. Call these from the init thread. */

/* Fills up to capacity records with the still pin's capabilities, as getFormats does for the stream
 * (defaultFps, minFps and maxFps as the device reports them, often 0), and returns how many there
 * are. E_INVALIDARG outside the table or for a negative capacity; E_POINTER when the device is not
 * open, or formats is null with a non-zero capacity; E_PROP_ID_UNSUPPORTED without a still pin. */
FENWYR_API int32_t getStillFormats(int32_t device, FormatInfo* formats, int32_t capacity);

/* Selects the still pin's capability by its index (as getStillFormats reports it). A running device
 * stops, takes it and runs again; the stream's sequence goes on. S_OK; E_INVALIDARG outside the table
 * or for a capability outside the list (nothing changes); E_POINTER when not open;
 * E_PROP_ID_UNSUPPORTED without a still pin; VFW_E_WRONG_STATE from a callback; else the device's
 * error, the previous still format staying. */
FENWYR_API int32_t setStillFormat(int32_t device, int32_t capability);

/* Triggers the still pin (IAMVideoControl's software trigger) and waits up to timeoutMs for that
 * still; it arrives in the device's output format, as setOutputFormat chose it (a picture, or the
 * device's bytes). An unread still from before the call is not returned; a still too large for the
 * buffer is kept and the next takeStill returns it without triggering again. A device with a still
 * pin but no software trigger is waited on for its next still (its button). The results of
 * grabFrame (S_OK, 0x800705B4 time-out, 0x8007007A buffer too small with info->length the size
 * needed, VFW_E_NOT_RUNNING when the device does not run, VFW_E_WRONG_STATE from inside a callback,
 * E_INVALIDARG, E_POINTER), E_POINTER also when the device is not open, E_PROP_ID_UNSUPPORTED
 * without a still pin. While it waits it handles messages sent to this thread. */
FENWYR_API int32_t takeStill(int32_t device, uint8_t* buffer, int32_t capacity, FrameInfo* info, int32_t timeoutMs);

/* Any thread, as grabFrame: waits up to timeoutMs for a still not yet read (one a takeStill
 * triggered, or the device's button) and copies it, without triggering. With takeStill(..., 0)
 * on the init thread to trigger, a host waits here on a thread of its own; a host that polls
 * gets the button's stills here. grabFrame's results (a still too large for the buffer stays
 * unread), VFW_E_WRONG_STATE inside the still callback, E_PROP_ID_UNSUPPORTED when the device's
 * last open found no still pin. */
FENWYR_API int32_t grabStill(int32_t device, uint8_t* buffer, int32_t capacity, FrameInfo* info, int32_t timeoutMs);

/* Sends every still (those takeStill triggers and those of the device's button) to callback (null:
 * to none), on the still pin's thread, in the output format; the stream's callbacks do not get them.
 * Replaced as setFrameCallbackEx replaces its callback. It may be set before openDevice and lasts
 * across opens. S_OK; E_INVALIDARG outside the table; E_PROP_ID_UNSUPPORTED (nothing set) for a
 * callback on an open device without a still pin (null is always taken). */
FENWYR_API int32_t setStillCallback(int32_t device, FrameCallbackEx callback, void* userData);

#ifdef __cplusplus
}
#endif

#endif
