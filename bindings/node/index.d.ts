// Types of the camera-libraries package.
/// <reference types="node" />
import { EventEmitter } from 'events';

/** A failure of a library call: `hresult` is its result (unsigned), `code` its symbolic name. */
export class CameraError extends Error {
  hresult?: number;
  code?: string;
}
export function hresultName(hresult: number): string;
/** Loads the DLLs from this folder instead of the package's own; before the first call only. */
export function setLibraryDirectory(folder: string): void;

export type DeviceState = 'absent' | 'closed' | 'stopped' | 'running' | 'lost' | 'failed';
export type PixelFormat = 'other' | 'RGB1' | 'RGB8' | 'RGB555' | 'RGB565' | 'RGB24' | 'RGB32' | 'MJPG' | 'YUY2' | 'RGB' | 'RGBA'
  | 'GRAY8';
/** What frames become before they reach JavaScript: the device's own bytes or a top-down packed picture. */
export type Output = 'native' | 'bgr24' | 'bgra' | 'rgb' | 'rgba' | 'gray';
export type ControlName =
  | 'brightness' | 'contrast' | 'hue' | 'saturation' | 'sharpness' | 'gamma' | 'colorEnable' | 'whiteBalance'
  | 'backlightCompensation' | 'gain' | 'pan' | 'tilt' | 'roll' | 'zoom' | 'exposure' | 'iris' | 'focus';

export interface DeviceEntry { index: number; name: string; path: string; state: DeviceState; }
export interface Format {
  index: number; width: number; height: number; bitCount: number; pixelFormat: PixelFormat; fourcc: string;
  defaultFps: number; minFps: number; maxFps: number;
}
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

export namespace fenwyr {
  class Device extends EventEmitter {
    readonly index: number;
    readonly name: string;
    readonly path: string;
    readonly state: DeviceState;
    formats(): Format[];
    format(): CurrentFormat;
    /** fps 0 keeps the capability's default rate. */
    setFormat(index: number, fps?: number): void;
    controls(): Control[];
    control(name: ControlName): Control;
    setControl(name: ControlName, value: number | 'auto'): void;
    start(): void;
    stop(): void;
    /** The newest frame not yet taken, or null after timeoutMs; rejects with VFW_E_NOT_RUNNING when stopped. */
    grab(options?: number | { timeoutMs?: number; output?: Output; signal?: AbortSignal }): Promise<Frame | null>;
    /** Sets (or, without an argument, reads) what this device's frames become, from the next frame on. */
    output(name?: Output): Output;
    /** Frames until the device stops, is lost or fails; waits off the main thread. */
    /** reuse: every frame in one buffer, overwritten when the loop takes the next frame. */
    frames(options?: { timeoutMs?: number; reuse?: boolean; output?: Output; signal?: AbortSignal }):
      AsyncGenerator<Frame, void, undefined>;
    /** Closes the device: `await using device = fenwyr.open(...)`. */
    [Symbol.asyncDispose](): Promise<void>;
    /** The driver's property dialog; modal. */
    showProperties(): void;
    showPinProperties(): void;
    close(): void;
    /** Builds the device's graph again (after 'returned'); fenwyr.open() of a lost device does it too. */
    reopen(): void;
    on(event: 'lost' | 'returned', listener: () => void): this;
    on(event: 'error', listener: (error: CameraError) => void): this;
  }
  /** Control names and the ids the library takes for them. */
  const CONTROLS: Readonly<Record<ControlName, number>>;
  /** Device states by the library's numbers (index). */
  const STATES: readonly DeviceState[];
  /** Pixel formats by the library's codes (index). */
  const PIXEL_FORMATS: readonly PixelFormat[];
  function devices(): DeviceEntry[];
  /** The device's one Device object: a second open() returns the same one. */
  function open(deviceOrPathOrName: number | string): Device;
  /** Releases every device and the library's COM use. */
  function shutdown(): void;
  /** The original device block: names in the ANSI code page. */
  function listDevices(): { index: number; name: string }[];
  /** The DLL's exports as koffi functions. */
  const native: Record<string, (...args: any[]) => any>;
  /** The koffi record and callback types those exports are declared with (this copy's own names). */
  const types: Record<string, unknown>;
}

/** The type of fenwyr's devices (fenwyr.Device at run time). */
export type Device = fenwyr.Device;

export interface Aoi { x: number; y: number; width: number; height: number; }
export interface Size { width: number; height: number; }
export interface Range { minimum: number; maximum: number; step: number; }

export namespace tarvik {
  class Camera {
    /** Opens the first available camera in 8-bit mono; throws when there is none. */
    static open(): Camera;
    readonly isOpen: boolean;
    readonly id: number;
    readonly serial: string;
    aoi: Aoi;
    readonly aoiLimits: { minimum: Size; maximum: Size; increment: Size };
    readonly pixelClocks: number[];
    pixelClock: number;
    readonly fpsRange: { minimum: number; maximum: number; periodStep: number };
    fps: number;
    readonly exposureRange: Range;
    /** Milliseconds. */
    exposure: number;
    gain: number;
    /** Write-only on the camera: reads the last value set here, or null. */
    gamma: number | null;
    start(): void;
    stop(): void;
    /** The next frame, AOI width x height bytes; throws when none came within a second. */
    capture(): Buffer;
    captureAsync(): Promise<Buffer>;
    close(): void;
  }
  const native: Record<string, (...args: any[]) => any>;
}
