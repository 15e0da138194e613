'use strict';
// Video capture devices through fenwyr.dll. Every call runs on Node's main thread, which is the
// library's init thread, except grabFrame, which runs on a thread of the package's own per device
// (lib/grab_worker.js) so that waiting for a frame blocks neither the event loop nor Node's shared
// thread pool. No callback of the library is used: frames are grabbed and device events are read
// by polling, so nothing waits for the main thread.
const EventEmitter = require('events');
const path = require('path');
const { Worker } = require('worker_threads');
const native = require('./native');
const { CameraError, check, codes, failed } = require('./errors');
const { integer, finite } = require('./arguments');

const { koffi } = native;
const { DeviceInfo, ResolutionInfo, FormatInfo } = native.types;

const STATES = ['absent', 'closed', 'stopped', 'running', 'lost', 'failed'];
const STATE = { absent: 0, closed: 1, stopped: 2, running: 3, lost: 4, failed: 5 };
// FrameInfo.pixelFormat codes: 5 and 6 are the platform's RGB24 and RGB32 (B, G, R byte order),
// also the codes of the 'bgr24' and 'bgra' pictures; 9 to 11 are pictures only.
const PIXEL_FORMATS = ['other', 'RGB1', 'RGB8', 'RGB555', 'RGB565', 'RGB24', 'RGB32', 'MJPG', 'YUY2', 'RGB', 'RGBA',
  'GRAY8'];
// What frames become before they reach JavaScript (setOutputFormat).
const OUTPUTS = { native: 0, bgr24: 1, bgra: 2, rgb: 3, rgba: 4, gray: 5 };
const CONTROLS = {
  brightness: 0, contrast: 1, hue: 2, saturation: 3, sharpness: 4, gamma: 5, colorEnable: 6,
  whiteBalance: 7, backlightCompensation: 8, gain: 9,
  pan: 100, tilt: 101, roll: 102, zoom: 103, exposure: 104, iris: 105, focus: 106,
};
const CONTROL_AUTO = 1;
const CONTROL_MANUAL = 2;
const STATE_POLL_MS = 100;
const REFRESH_WHILE_LOST_MS = 500;

let initialised = false;

// The library, initialised on first use on this (the main) thread.
function lib() {
  const n = native.fenwyr();
  if (!initialised) {
    n.init();
    initialised = true;
  }
  return n;
}

// Ends every device and the library's COM use; the next call starts it again.
function shutdown() {
  if (!initialised) return;
  for (const device of openDevices.values()) device._closed();
  openDevices.clear();
  native.fenwyr().uninit();
  initialised = false;
}

function fourccText(code) {
  if (!code) return '';
  return String.fromCharCode(code & 0xff, (code >>> 8) & 0xff, (code >>> 16) & 0xff, (code >>> 24) & 0xff);
}

function identityOf(index) {
  const identity = {};
  if (failed(lib().getDeviceIdentity(index, identity))) return null;
  return { index, name: identity.name, path: identity.path, state: STATES[lib().getDeviceState(index)] };
}

// Every device in the table, present or not, after looking for new ones.
function devices() {
  const n = lib();
  n.refreshDevices();
  const list = [];
  for (let index = 0; ; ++index) {
    const identity = identityOf(index);
    if (!identity) return list;
    list.push(identity);
  }
}

// The device block of the original interface: names in the process's ANSI code page.
function listDevices() {
  const n = lib();
  const block = n.listDevices();
  if (!block) throw new CameraError('listDevices', codes.E_OUTOFMEMORY);
  try {
    return koffi.decode(block, DeviceInfo, 64)
      .filter((entry) => entry.index >= 0)
      .map((entry) => ({ index: entry.index, name: Buffer.from(entry.name).toString('latin1').replace(/\0.*$/s, '') }));
  } finally {
    n.CoTaskMemFree(block);
  }
}

function frameFrom(data, info) {
  const length = info.readInt32LE(24);
  return {
    data: data.subarray(0, length),
    width: info.readInt32LE(0),
    height: info.readInt32LE(4),
    stride: info.readInt32LE(8),
    bottomUp: info.readInt32LE(12) !== 0,
    pixelFormat: PIXEL_FORMATS[info.readInt32LE(16)] || 'other',
    fourcc: fourccText(info.readUInt32LE(20)),
    sampleTime: Number(info.readBigInt64LE(32)),
    arrivalTime: Number(info.readBigInt64LE(40)),
    sequence: Number(info.readBigUInt64LE(48)),
    dropped: Number(info.readBigInt64LE(56)),
  };
}

// `promise`, or the signal's reason as soon as it is aborted (what was asked goes on unheard).
function abortable(promise, signal) {
  if (!signal) return promise;
  return new Promise((resolve, reject) => {
    const onAbort = () => reject(signal.reason);
    signal.addEventListener('abort', onAbort, { once: true });
    promise.then(
      (value) => { signal.removeEventListener('abort', onAbort); resolve(value); },
      (error) => { signal.removeEventListener('abort', onAbort); reject(error); });
  });
}

// What a call on a closed device throws: code DEVICE_CLOSED.
function closedError(index) {
  const error = new CameraError(`device ${index} is closed`);
  error.code = 'DEVICE_CLOSED';
  return error;
}

// The device's grab thread: one request at a time, each lending it a buffer to fill.
class Grabber {
  constructor(index) {
    this._index = index;
    this._worker = new Worker(path.join(__dirname, 'grab_worker.js'),
      { workerData: { device: index, directory: native.libraryDirectory() } });
    this._worker.unref();
    this._queue = Promise.resolve();
  }

  // { hr, buffer, info }: the buffer comes back (transferred) with the frame in it.
  grab(buffer, timeoutMs) {
    const turn = this._queue.then(() => new Promise((resolve, reject) => {
      const settle = (done) => {
        this._worker.off('error', onError);
        this._worker.off('exit', onExit);
        this._worker.off('message', onMessage);
        done();
      };
      const onError = (error) => settle(() => reject(error));
      // close() ended the thread while it waited: the grab ends with the device.
      const onExit = () => settle(() => reject(closedError(this._index)));
      const onMessage = (answer) => settle(() =>
        resolve({ hr: answer.hr, buffer: Buffer.from(answer.buffer), info: Buffer.from(answer.info) }));
      this._worker.on('error', onError);
      this._worker.on('exit', onExit);
      this._worker.on('message', onMessage);
      const lent = buffer.buffer;
      this._worker.postMessage({ buffer: lent, timeoutMs }, [lent]);
    }));
    this._queue = turn.catch(() => {});
    return turn;
  }

  close() {
    this._worker.terminate();
  }
}

// One Device per device: a second open() gives the same object.
const openDevices = new Map();

class Device extends EventEmitter {
  constructor(index) {
    super();
    const identity = identityOf(index);
    this.index = index;
    this.name = identity.name;
    this.path = identity.path;
    this._open = true;
    this._capacity = 0;
    this._unused = null;
    this._grabber = null;
    this._lastState = lib().getDeviceState(index);
    this._lost = false;
    this._gone = false;
    this._lastRefresh = 0;
    this._poll = setInterval(() => this._pollState(), STATE_POLL_MS);
    this._poll.unref();
  }

  get state() {
    return STATES[native.fenwyr().getDeviceState(this.index)];
  }

  _use() {
    if (!this._open) throw closedError(this.index);
    return lib();
  }

  // Device events from the state, polled on the main thread.
  _pollState() {
    const n = native.fenwyr();
    if (this._lost && Date.now() - this._lastRefresh >= REFRESH_WHILE_LOST_MS) {
      // A lost device that comes back shows only in a new enumeration: absent, then present.
      this._lastRefresh = Date.now();
      n.refreshDevices();
    }
    const state = n.getDeviceState(this.index);
    if (state === this._lastState) return;
    this._lastState = state;
    if (this._lost) {
      if (state === STATE.absent) {
        this._gone = true;
      } else if (this._gone) {
        this._lost = this._gone = false;
        this.emit('returned');
      }
      return;
    }
    if (state === STATE.lost) {
      this._lost = true;
      this.emit('lost');
    } else if (state === STATE.failed && this.listenerCount('error') > 0) {
      this.emit('error', new CameraError(`device ${this.index} failed`));
    }
  }

  // Every capability with its frame-rate range.
  formats() {
    const n = this._use();
    const count = check(n.getFormats(this.index, null, 0), 'getFormats');
    if (count === 0) return [];
    const block = Buffer.alloc(count * koffi.sizeof(FormatInfo));
    check(n.getFormats(this.index, block, count), 'getFormats');
    return koffi.decode(block, FormatInfo, count).map((f) => ({
      index: f.index, width: f.width, height: f.height, bitCount: f.bitCount,
      pixelFormat: PIXEL_FORMATS[f.pixelFormat] || 'other', fourcc: fourccText(f.fourcc),
      defaultFps: f.defaultFps, minFps: f.minFps, maxFps: f.maxFps,
    }));
  }

  // The format flowing now.
  format() {
    const n = this._use();
    const block = n.getResolution(this.index);
    if (!block) throw new CameraError('getResolution', codes.E_OUTOFMEMORY);
    let r;
    try {
      r = koffi.decode(block, ResolutionInfo);
    } finally {
      n.CoTaskMemFree(block);
    }
    if (r.index === -1 && r.width === 1) throw new CameraError(`device ${this.index} has no connected format`);
    return { width: r.width, height: Math.abs(r.height), bitCount: r.bitCount, fps: r.framesPerSecond,
      pixelFormat: PIXEL_FORMATS[r.pixelFormat] || 'other' };
  }

  setFormat(index, fps = 0) {
    integer(index, 'capability');
    if (finite(fps, 'fps') < 0) throw new RangeError(`fps must be 0 (the default) or above, not ${fps}`);
    check(this._use().setFormat(this.index, index, fps), `setFormat(${index}, ${fps})`);
  }

  controls() {
    const list = [];
    for (const name of Object.keys(CONTROLS)) {
      const control = this._readControl(name, false);
      if (control) list.push(control);
    }
    return list;
  }

  control(name) {
    return this._readControl(name, true);
  }

  _controlId(name) {
    const id = CONTROLS[name];
    if (id === undefined) throw new CameraError(`no control is called "${name}"`, codes.E_INVALIDARG);
    return id;
  }

  _readControl(name, mustExist) {
    const id = this._controlId(name);
    const info = {};
    const hr = this._use().getControl(this.index, id, info);
    if (!mustExist && (hr >>> 0) === codes.E_PROP_ID_UNSUPPORTED) return null;
    check(hr, `control "${name}"`);
    return {
      name, min: info.min, max: info.max, step: info.step, default: info.defaultValue, value: info.value,
      auto: info.flags === CONTROL_AUTO, canAuto: (info.capsFlags & CONTROL_AUTO) !== 0,
      canManual: (info.capsFlags & CONTROL_MANUAL) !== 0,
    };
  }

  setControl(name, value) {
    const id = this._controlId(name);
    const hr = value === 'auto'
      ? this._use().setControl(this.index, id, 0, CONTROL_AUTO)
      : this._use().setControl(this.index, id, integer(value, `control "${name}"`), CONTROL_MANUAL);
    check(hr, `setControl("${name}", ${value})`);
  }

  start() {
    check(this._use().startCapture(this.index), `start device ${this.index}`);
    this._lastState = STATE.running;
    this._lost = this._gone = false;
  }

  stop() {
    check(this._use().stopCapture(this.index), `stop device ${this.index}`);
    this._lastState = native.fenwyr().getDeviceState(this.index);
  }

  // The newest frame not yet taken, or null when none came within timeoutMs. Waits off the
  // main thread. Throws VFW_E_NOT_RUNNING when the device is not running. The frame's data is
  // the host's own. `options` is the time-out, or { timeoutMs, output }: see output().
  async grab(options = 1000) {
    const { timeoutMs = 1000, output, signal } = typeof options === 'number' ? { timeoutMs: options } : options;
    if (integer(timeoutMs, 'timeoutMs') < 0) throw new RangeError(`timeoutMs must be 0 or above, not ${timeoutMs}`);
    signal?.throwIfAborted();
    if (output !== undefined) this.output(output);
    return (await abortable(this._grab(timeoutMs, null), signal))[0];
  }

  // What this device's frames become, from the next frame on: 'native' (the device's own bytes),
  // 'bgr24', 'bgra', 'rgb', 'rgba' (top-down, packed, alpha 255) or 'gray'. Without an argument,
  // the current one.
  output(name) {
    if (name === undefined) {
      const code = this._use().getOutputFormat(this.index);
      return Object.keys(OUTPUTS).find((key) => OUTPUTS[key] === code);
    }
    if (!(name in OUTPUTS)) throw new TypeError(`output must be one of ${Object.keys(OUTPUTS).join(', ')}`);
    check(this._use().setOutputFormat(this.index, OUTPUTS[name]), `output of device ${this.index}`);
    return name;
  }

  // [frame or null, the buffer it is in]; `offered` is a buffer to fill if it is large enough.
  async _grab(timeoutMs, offered) {
    this._use();
    this._grabber ??= new Grabber(this.index);
    for (;;) {
      if (this._capacity === 0) this._capacity = this._guessCapacity();
      // A fresh large Buffer costs more than the frame's copy (its pages are new), so a buffer
      // that no frame was written to serves the next call.
      let buffer = offered && offered.length >= this._capacity ? offered : null;
      if (!buffer && this._unused && this._unused.length >= this._capacity) buffer = this._unused;
      if (buffer === this._unused) this._unused = null;
      // Memory of its own (no pool slice): it travels to the grab thread and back.
      if (!buffer) buffer = Buffer.allocUnsafeSlow(this._capacity);
      const answer = await this._grabber.grab(buffer, timeoutMs);
      const { hr, info } = answer;
      if (buffer === offered) offered = answer.buffer;
      buffer = answer.buffer;
      if (hr === 0) {
        const frame = frameFrom(buffer, info);
        // A compressed frame is smaller than the buffer: it gets memory of its own size (no pool
        // slice, nothing uninitialised behind it), and the buffer serves the next grab.
        if (buffer !== offered && frame.data.length < buffer.length) {
          frame.data = Buffer.allocUnsafeSlow(frame.data.length);
          buffer.copy(frame.data, 0, 0, frame.data.length);
          this._unused = buffer;
        }
        return [frame, buffer];
      }
      if (buffer !== offered) this._unused = buffer;
      if ((hr >>> 0) === codes.ERROR_TIMEOUT) return [null, buffer];
      if ((hr >>> 0) === codes.ERROR_INSUFFICIENT_BUFFER) {
        this._capacity = info.readInt32LE(24);
        continue;
      }
      check(hr, `grabFrame on device ${this.index}`);
    }
  }

  // Frames as they come, until the device stops (stop(), loss or failure). With reuse, every
  // frame's data is in one buffer, overwritten when the loop asks for the next frame: no new
  // memory per frame, for hosts that are done with a frame before they take the next.
  async *frames({ timeoutMs = 1000, reuse = false, output, signal } = {}) {
    if (output !== undefined) this.output(output);
    let buffer = null;
    for (;;) {
      // Closed (close() or shutdown()): the loop ends, whenever that happened.
      if (!this._open) return;
      signal?.throwIfAborted();
      let frame;
      try {
        // An aborted grab leaves its buffer with the grab thread: the next one takes another.
        [frame, buffer] = await abortable(this._grab(timeoutMs, reuse ? buffer : null), signal);
      } catch (error) {
        if (error === signal?.reason) throw error;
        if (!this._open) return;
        if (error.hresult === codes.VFW_E_NOT_RUNNING) {
          this._throwIfGone();
          return;  // stop()
        }
        throw error;
      }
      if (frame) yield frame;
    }
  }

  // A device that stopped delivering because it was lost or failed: DEVICE_LOST or DEVICE_FAILED.
  _throwIfGone() {
    const state = native.fenwyr().getDeviceState(this.index);
    if (state !== STATE.lost && state !== STATE.failed) return;
    const lost = state === STATE.lost;
    const error = new CameraError(`device ${this.index} ${lost ? 'was lost' : 'failed'}`,
      lost ? codes.ERROR_DEVICE_NOT_CONNECTED : codes.E_FAIL);
    error.code = lost ? 'DEVICE_LOST' : 'DEVICE_FAILED';
    throw error;
  }

  _guessCapacity() {
    try {
      // An uncompressed frame's size; a compressed one is smaller, and a larger frame grows it.
      const f = this.format();
      return Math.max(4096, Math.ceil((f.width * f.bitCount) / 32) * 4 * f.height);
    } catch {
      return 1 << 20;
    }
  }

  // The driver's property dialogs; modal, so the event loop waits until they are closed.
  showProperties() {
    check(this._use().showFilterProperties(this.index), 'showFilterProperties');
  }

  showPinProperties() {
    check(this._use().showCapturePinProperties(this.index), 'showCapturePinProperties');
  }

  // Builds the device's graph again: after 'returned', or to recover from a failure. Stopped
  // afterwards; format, output and controls as the device starts with them.
  reopen() {
    const n = this._use();
    if (n.openDevice(this.index) !== 1) throw new CameraError(`device ${this.index} could not be opened`);
    this._lastState = n.getDeviceState(this.index);
    this._lost = this._gone = false;
  }

  // `await using device = fenwyr.open(...)` closes it at the end of the block.
  async [Symbol.asyncDispose]() {
    this.close();
  }

  // Stops the device; its graph is kept until shutdown(). Closing twice is harmless.
  close() {
    if (!this._open) return;
    const state = native.fenwyr().getDeviceState(this.index);
    if (state === STATE.running) native.fenwyr().stopCapture(this.index);
    this._closed();
    openDevices.delete(this.index);
  }

  _closed() {
    this._open = false;
    clearInterval(this._poll);
    if (this._grabber) this._grabber.close();
    this._grabber = null;
  }
}

// Opens a device given by its index, path or name.
function open(device) {
  const n = lib();
  let index = device;
  if (typeof device === 'string') {
    index = n.findDevice(device);
    if (index < 0) {
      n.refreshDevices();
      index = n.findDevice(device);
    }
    if (index < 0) throw new CameraError(`no device has the path or name "${device}"`);
  } else if (!Number.isInteger(device) || device < 0) {
    throw new CameraError(`not a device: ${device}`, codes.E_INVALIDARG);
  }
  if (!identityOf(index)) throw new CameraError(`no device ${index}`, codes.E_INVALIDARG);
  const known = openDevices.get(index);
  if (known) {
    // Lost or failed: opened again, as after its 'returned' event.
    const state = n.getDeviceState(index);
    if (state === STATE.lost || state === STATE.failed) known.reopen();
    return known;
  }
  if (n.openDevice(index) !== 1) throw new CameraError(`device ${index} could not be opened`);
  const opened = new Device(index);
  openDevices.set(index, opened);
  return opened;
}

module.exports = {
  devices, open, shutdown, listDevices, Device, CONTROLS, STATES, PIXEL_FORMATS,
  // The record and callback types of `native`'s declarations (for koffi.register, koffi.decode).
  get types() {
    return native.types;
  },
  // The DLL's exports themselves, for what the interface above leaves out. Callbacks passed
  // here run on Node's main thread: never stop a device or replace its callback while one of
  // its frames may still be waiting for JavaScript (the streaming thread waits for the main
  // thread and the main thread for it).
  get native() {
    return lib();
  },
};
