// Types of the camera-libraries package.
/// <reference types="node" />
import { EventEmitter } from 'events';

/** The symbolic names of the libraries' results. */
export type HresultName =
  | 'E_NOTIMPL' | 'E_NOINTERFACE' | 'E_POINTER' | 'E_FAIL' | 'E_UNEXPECTED' | 'E_OUTOFMEMORY' | 'E_INVALIDARG'
  | 'ERROR_INSUFFICIENT_BUFFER' | 'E_PROP_ID_UNSUPPORTED' | 'ERROR_TIMEOUT' | 'ERROR_DEVICE_NOT_CONNECTED'
  | 'VFW_E_INVALIDMEDIATYPE' | 'VFW_E_NOT_CONNECTED' | 'VFW_E_CANNOT_RENDER' | 'VFW_E_NOT_STOPPED' | 'VFW_E_NOT_RUNNING'
  | 'VFW_E_WRONG_STATE'
  /** A result without a name of its own. */
  | `HRESULT 0x${string}`;
/**
 * A CameraError's code: a result's name (UNKNOWN_HRESULT for one without a name), or the package's own:
 * a closed handle, a device lost, failed, not found or busy (could not be opened), no industrial camera, a DLL
 * that cannot be loaded, the library used by another thread of the process, the package's thread ended.
 */
export type CameraErrorCode = Exclude<HresultName, `HRESULT 0x${string}`> | 'UNKNOWN_HRESULT'
  | 'DEVICE_CLOSED' | 'DEVICE_LOST' | 'DEVICE_FAILED' | 'DEVICE_NOT_FOUND' | 'DEVICE_BUSY' | 'CAMERA_NOT_FOUND'
  | 'LIBRARY_NOT_FOUND' | 'LIBRARY_IN_USE' | 'LIBRARY_FAILED' | 'FORMAT_NOT_FOUND' | 'UNSUPPORTED_PLATFORM';

/** A failure of a library call: `hresult` is its result (unsigned), `code` its symbolic name. */
export class CameraError extends Error {
  /** With an hresult, the message ends with its name and `code` is that name. */
  constructor(message: string, hresult?: number, options?: ErrorOptions);
  hresult?: number;
  code?: CameraErrorCode;
}
export function hresultName(hresult: number): HresultName;
/** Loads the DLLs from this folder instead of the package's own; before the first call only. */
export function setLibraryDirectory(folder: string): void;

/** fenwyr's exports that any thread may call, as koffi functions (the others are the package's fenwyr thread's). */
export type AnyThreadExport = 'grabFrame' | 'getDeviceState' | 'getDeviceError' | 'setOutputFormat' | 'getOutputFormat'
  | 'getStreamStats';

/** 'stalled': running, but no frame came for supervise()'s stallMs. */
export type DeviceState = 'absent' | 'closed' | 'stopped' | 'running' | 'lost' | 'failed' | 'stalled';
export type PixelFormat = 'other' | 'RGB1' | 'RGB8' | 'RGB555' | 'RGB565' | 'RGB24' | 'RGB32' | 'MJPG' | 'YUY2' | 'RGB' | 'RGBA'
  | 'GRAY8';
/** What frames become before they reach JavaScript: the device's own bytes or a top-down packed picture. */
export type Output = 'native' | 'bgr24' | 'bgra' | 'rgb' | 'rgba' | 'gray';
export type ControlName =
  | 'brightness' | 'contrast' | 'hue' | 'saturation' | 'sharpness' | 'gamma' | 'colorEnable' | 'whiteBalance'
  | 'backlightCompensation' | 'gain' | 'pan' | 'tilt' | 'roll' | 'zoom' | 'exposure' | 'iris' | 'focus';

/** The platform's analog video standards (AnalogVideo_ without the prefix). */
export type VideoStandard =
  | 'NTSC_M' | 'NTSC_M_J' | 'NTSC_433' | 'PAL_B' | 'PAL_D' | 'PAL_G' | 'PAL_H' | 'PAL_I' | 'PAL_M' | 'PAL_N' | 'PAL_60'
  | 'SECAM_B' | 'SECAM_D' | 'SECAM_G' | 'SECAM_H' | 'SECAM_K' | 'SECAM_K1' | 'SECAM_L' | 'SECAM_L1' | 'PAL_N_COMBO';
/** A capture card's connector kind ('hdmi': the platform's parallel digital input). */
export type InputType = 'composite' | 'svideo' | 'tuner' | 'component' | 'hdmi' | 'sdi' | 'other';
export interface Input {
  /** As selectInput() takes it. */
  index: number;
  type: InputType;
  /** The platform's PhysConn_Video_ value, as the card reports it. */
  connector: number;
  /** The card captures this input now. */
  routed: boolean;
  /** The audio input that goes with it, routed with it; null when the card names none. */
  audio: { index: number; routed: boolean } | null;
}
export interface VideoStandardState {
  available: VideoStandard[];
  /** null: one outside the platform's names. */
  current: VideoStandard | null;
  /** The decoder has locked onto a signal; null when it does not tell. */
  locked: boolean | null;
}

export interface DeviceEntry { index: number; name: string; path: string; state: DeviceState; }
export interface Format {
  index: number; width: number; height: number; bitCount: number; pixelFormat: PixelFormat; fourcc: string;
  defaultFps: number; minFps: number; maxFps: number;
}
export interface FormatWanted { width?: number; height?: number; fps?: number; pixelFormat?: PixelFormat | string; }
/** A capability chosen for a FormatWanted, with the rate set (its default when none was asked for). */
export interface ChosenFormat extends Format { fps: number; }
export interface CurrentFormat { width: number; height: number; bitCount: number; fps: number; pixelFormat: PixelFormat; }
export interface Control {
  name: ControlName; min: number; max: number; step: number; default: number; value: number;
  auto: boolean; canAuto: boolean; canManual: boolean;
}
export interface Frame {
  /** The frame's bytes, the host's own copy. */
  data: Buffer;
  width: number; height: number;
  /** Bytes per stored row of the first plane; 0 for compressed data. */
  stride: number;
  bottomUp: boolean;
  pixelFormat: PixelFormat;
  /** 'YUY2', 'NV12', 'MJPG', ...; '' for RGB. */
  fourcc: string;
  /** Stream time of the sample, 100 ns units. */
  sampleTime: number;
  /** When fenwyr received it, 100 ns units of the performance counter. */
  arrivalTime: number;
  /** 0 for the first frame after start(); a gap means frames this host missed. */
  sequence: number;
  /** Frames the device reports dropped, -1 when it does not report. */
  dropped: number;
}

/** What a device's stream has done since it was opened; the counts go on across recoveries. */
export interface StreamStats {
  /** Frames fenwyr received from the device. */
  frames: number;
  /** Frames lost on their way to the host: gaps in Frame.sequence. */
  missed: number;
  /** arrivalTime of the newest frame (100 ns units, Frame.arrivalTime's clock); 0: none yet. */
  lastFrameTime: number;
  /** Times the stream stalled. */
  stalls: number;
  /** Recoveries that brought frames back. */
  recoveries: number;
  /** Recovery attempts that failed. */
  failedAttempts: number;
  /** The device's own count, as Frame.dropped; -1: not reported. */
  dropped: number;
}

export interface Supervision {
  /** 0: no stall detection; else 100 to 600000. Default 2000. */
  stallMs?: number;
  /** Rebuild the device as the host had it after a stall, a failure, or the return of a device lost while running. Default true; needs stallMs. */
  recover?: boolean;
}

export namespace fenwyr {
  /**
   * A handle on a device, of the caller's own: the handles of one device share its settings, state and
   * events; close() ends this handle's loops and waits, and the device stops with its last handle. Calls run
   * on the package's fenwyr thread (the library's init thread) and waits for frames on a thread per device:
   * none blocks the event loop or Node's thread pool.
   */
  class Device extends EventEmitter {
    /** Devices come from open() and openSync(). */
    private constructor();
    readonly index: number;
    readonly name: string;
    readonly path: string;
    /** As last reported by the device's calls and the state watch (every 100 ms); 'closed' once this handle is. */
    readonly state: DeviceState;
    formats(): Promise<Format[]>;
    format(): Promise<CurrentFormat>;
    /** fps 0 keeps the capability's default rate. */
    setFormat(index: number, fps?: number): Promise<void>;
    /**
     * The best capability for what is wanted (each field optional, 0: any): the exact size and encoding (a FourCC
     * such as 'YUY2' or 'MJPG', or an RGB capability's pixelFormat such as 'RGB24'), the least bandwidth, at the
     * nearest rate within its range. Resolves with the format chosen; rejects with FORMAT_NOT_FOUND when none fits.
     */
    setFormat(wanted: FormatWanted): Promise<ChosenFormat>;
    /** The capability setFormat(wanted) would set, with the rate it would take; null when none fits. Sets nothing. */
    chooseFormat(wanted: FormatWanted): Promise<ChosenFormat | null>;
    /** The still pin's capabilities (often larger than the stream's); none without a still pin. */
    stillFormats(): Promise<Format[]>;
    /** The still pin's capability for later stills; rejects with E_PROP_ID_UNSUPPORTED without a still pin. */
    setStillFormat(index: number): Promise<void>;
    /**
     * Triggers the still pin and resolves with its still (with output, in that output), or null after timeoutMs
     * (default 3000); rejects with E_PROP_ID_UNSUPPORTED without a still pin, VFW_E_NOT_RUNNING when stopped,
     * DEVICE_LOST or DEVICE_FAILED when lost or failed. With trigger false, the next still without triggering: the device's button.
     */
    still(options?: number | { timeoutMs?: number; output?: Output; signal?: AbortSignal; trigger?: boolean }): Promise<Frame | null>;
    /** A capture card's video inputs; none without a crossbar. */
    inputs(): Promise<Input[]>;
    /** Routes a video input (and its audio); rejects with E_PROP_ID_UNSUPPORTED without a crossbar. */
    selectInput(index: number): Promise<void>;
    /** The analog decoder's standards and signal lock; null without a decoder. */
    videoStandard(): Promise<VideoStandardState | null>;
    /** One of the decoder's standards; rejects with E_INVALIDARG for one it does not offer, E_PROP_ID_UNSUPPORTED without a decoder. */
    setVideoStandard(name: VideoStandard): Promise<void>;
    controls(): Promise<Control[]>;
    control(name: ControlName): Promise<Control>;
    setControl(name: ControlName, value: number | 'auto'): Promise<void>;
    start(): Promise<void>;
    stop(): Promise<void>;
    /**
     * The newest frame not yet taken (with output, one in that output), or null after timeoutMs; rejects with
     * VFW_E_NOT_RUNNING when stopped, DEVICE_LOST or DEVICE_FAILED when lost or failed.
     */
    grab(options?: number | { timeoutMs?: number; output?: Output; signal?: AbortSignal }): Promise<Frame | null>;
    /** Sets (or, without an argument, reads) what this device's frames become, from the next frame on. */
    output(name?: Output): Promise<Output>;
    /**
     * Frames until the device is stopped or this handle closed; throws DEVICE_LOST or DEVICE_FAILED when it is lost or fails,
     * unless supervise() recovers it: then it waits, through stalls and recoveries.
     * reuse: every frame in one buffer, emptied when the loop takes the next frame. timeoutMs: each wait, at least 10 ms.
     */
    frames(options?: { timeoutMs?: number; reuse?: boolean; output?: Output; signal?: AbortSignal }):
      AsyncGenerator<Frame, void, undefined>;
    /** Closes the handle: `await using device = await fenwyr.open(...)`. */
    [Symbol.asyncDispose](): Promise<void>;
    /** closeSync(): `using device = fenwyr.openSync(...)`. */
    [Symbol.dispose](): void;
    /** The driver's property dialog; modal. */
    showProperties(): Promise<void>;
    showPinProperties(): Promise<void>;
    /** Closes this handle (its loops end, its waits stop); the device stops with its last handle. */
    close(): Promise<void>;
    /** As close(), blocking until done: for exit handlers. */
    closeSync(): void;
    /** Builds the device's graph again (after 'returned'); fenwyr.open() of a lost device does it too. */
    reopen(): Promise<void>;
    /**
     * Stall detection and recovery: attempts at once, then after 1, 2, 4, 8, 16 and every 30 s until frames
     * come, the host stops or closes the device, or turns supervision off.
     */
    supervise(options?: Supervision): Promise<void>;
    stats(): Promise<StreamStats>;
    on(event: 'lost' | 'returned', listener: () => void): this;
    /** No frame for stallMs: milliseconds since the last frame (or since start()). */
    on(event: 'stalled', listener: (silentMs: number) => void): this;
    /** Frames flow again: the recovery attempts it took (0: it resumed by itself). */
    on(event: 'recovered', listener: (attempts: number) => void): this;
    /**
     * The device failed (code DEVICE_FAILED, hresult the stream's result) and is not being recovered, or the
     * package's thread ended (LIBRARY_FAILED); only when no frames() loop or grab() of this handle waits (it
     * throws the error then). With no listener, Node throws it.
     */
    on(event: 'error', listener: (error: CameraError) => void): this;
  }
  /** Control names and the ids the library takes for them. */
  const CONTROLS: Readonly<Record<ControlName, number>>;
  /** Video standard names and the platform's AnalogVideo_ bits for them. */
  const VIDEO_STANDARDS: Readonly<Record<VideoStandard, number>>;
  /** Device states by the library's numbers (index). */
  const STATES: readonly DeviceState[];
  /** Pixel formats by the library's codes (index). */
  const PIXEL_FORMATS: readonly PixelFormat[];
  function devices(): Promise<DeviceEntry[]>;
  /** Blocks the calling thread. */
  function devicesSync(): DeviceEntry[];
  /** A new handle on the device; rejects with DEVICE_NOT_FOUND or DEVICE_BUSY. */
  function open(deviceOrPathOrName: number | string): Promise<Device>;
  /** Blocks the calling thread. */
  function openSync(deviceOrPathOrName: number | string): Device;
  /** Releases every device, the library's COM use and the package's fenwyr thread. */
  function shutdown(): Promise<void>;
  /** Blocks the calling thread: for exit handlers. */
  function shutdownSync(): void;
  /** The original device block: names in the ANSI code page. */
  function listDevices(): Promise<{ index: number; name: string }[]>;
  /** The DLL's exports that any thread may call, as koffi functions, called on the calling thread. */
  const native: Readonly<Record<AnyThreadExport, (...args: any[]) => any>>;
  /** The koffi record and callback types those exports are declared with (this copy's own names). */
  const types: Record<string, unknown>;
}

/** The type of fenwyr's devices (fenwyr.Device at run time). */
export type Device = fenwyr.Device;

export interface Aoi { x: number; y: number; width: number; height: number; }
export interface Size { width: number; height: number; }
export interface Range { minimum: number; maximum: number; step: number; }

export interface CameraSettings {
  aoi: Aoi;
  aoiLimits: { minimum: Size; maximum: Size; increment: Size };
  pixelClocks: number[];
  pixelClock: number;
  fpsRange: { minimum: number; maximum: number; periodStep: number };
  fps: number;
  exposureRange: Range;
  /** Milliseconds. */
  exposure: number;
  gain: number;
  /** Write-only on the camera: the last value set here, or null. */
  gamma: number | null;
}

export namespace tarvik {
  /** A camera, with a thread of the package's own that makes its calls one at a time. */
  class Camera {
    /** Cameras come from open() and openSync(). */
    private constructor();
    /** Opens the first available camera in 8-bit mono; rejects with CAMERA_NOT_FOUND when there is none. */
    static open(): Promise<Camera>;
    /** Blocks the calling thread. */
    static openSync(): Camera;
    readonly isOpen: boolean;
    readonly id: number;
    readonly serial: string;
    settings(): Promise<CameraSettings>;
    /** Applied in the order aoi, pixelClock, fps, exposure, gain, gamma; all checked first (fps 32768, the query value, is refused). */
    set(values: Partial<Pick<CameraSettings, 'aoi' | 'pixelClock' | 'fps' | 'exposure' | 'gain'>> & { gamma?: number }):
      Promise<void>;
    start(): Promise<void>;
    stop(): Promise<void>;
    /** The next frame, AOI width x height bytes; rejects when none came within a second. */
    capture(options?: { signal?: AbortSignal }): Promise<Buffer>;
    /** Blocks the calling thread up to a second. */
    captureSync(): Buffer;
    /**
     * Frames until stop() or close(), waiting through late frames; reuse: one buffer, emptied when the loop
     * takes the next frame.
     */
    frames(options?: { reuse?: boolean; signal?: AbortSignal }): AsyncGenerator<Buffer, void, undefined>;
    [Symbol.asyncDispose](): Promise<void>;
    /** closeSync(): `using camera = tarvik.Camera.openSync()`. */
    [Symbol.dispose](): void;
    close(): Promise<void>;
    /** Blocks the calling thread: for exit handlers. */
    closeSync(): void;
  }
  const native: Record<string, (...args: any[]) => any>;
}
