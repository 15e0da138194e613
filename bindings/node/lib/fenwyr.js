'use strict';
// Video capture devices through fenwyr.dll. The library's calls run on a thread of the package's
// own (lib/fenwyr_calls.js, the library's init thread) and each device's waits for frames on
// another (lib/grab_calls.js): the main thread only asks and receives results, frames
// (transferred, not copied) and events, and Node's shared thread pool is never used for waiting.
const EventEmitter = require('events');
const native = require('./native');
const { CallThread, abortable } = require('./call_thread');
const errors = require('./errors');
const { integer, finite } = require('./arguments');
const { STATES, PIXEL_FORMATS, OUTPUTS, CONTROLS, fourccText } = require('./fenwyr_calls');

const { CameraError, check, codes } = errors;
const closedError = (index) => errors.closedError(`device ${index}`);

// A device that stopped delivering because it was lost or failed: DEVICE_LOST or DEVICE_FAILED.
function goneError(index, state) {
  const lost = state === 'lost';
  const error = new CameraError(`device ${index} ${lost ? 'was lost' : 'failed'}`,
    lost ? codes.ERROR_DEVICE_NOT_CONNECTED : codes.E_FAIL);
  error.code = lost ? 'DEVICE_LOST' : 'DEVICE_FAILED';
  return error;
}

// The shortest wait of a frames() loop's grab: timeoutMs 0 would ask the grab thread again at
// once, a core's worth of round trips between frames (a frame that comes is returned at once).
const MIN_FRAMES_WAIT_MS = 10;

// One Device per device: a second open() gives the same object.
const openDevices = new Map();
let thread = null;

// The fenwyr thread, started on first use and again after shutdown().
function library() {
  thread ??= new CallThread('fenwyr_calls.js', {
    onEvent: ({ index, state, happened, detail }) => openDevices.get(index)?._changed(state, happened, detail),
    endedError: () => new CameraError('fenwyr was shut down'),
  });
  return thread;
}

// Every device in the table, present or not, after looking for new ones.
function devices() {
  return library().call('devices');
}

function devicesSync() {
  return library().callSync('devices');
}

// The device block of the original interface: names in the process's ANSI code page.
function listDevices() {
  return library().call('listDevices');
}

// An index, path or name; what JavaScript can judge is a TypeError or RangeError, as elsewhere.
function deviceArgument(device) {
  if (typeof device === 'string') return device;
  if (integer(device, 'a device index') < 0) throw new RangeError(`a device index is 0 or above, not ${device}`);
  return device;
}

function deviceOf(identity) {
  let device = openDevices.get(identity.index);
  if (!device) {
    device = new Device(identity);
    openDevices.set(identity.index, device);
  }
  device._state = identity.state;
  return device;
}

// Opens a device given by its index, path or name.
async function open(device) {
  const argument = deviceArgument(device);
  return deviceOf(await library().call('open', argument));
}

function openSync(device) {
  const argument = deviceArgument(device);
  return deviceOf(library().callSync('open', argument));
}

function endDevices() {
  for (const device of openDevices.values()) device._ended();
  openDevices.clear();
  const ending = thread;
  thread = null;
  return ending;
}

// Ends every device and the library's COM use, and the fenwyr thread; the next call starts again.
async function shutdown() {
  const ending = endDevices();
  if (!ending) return;
  try {
    await ending.call('shutdown');
  } finally {
    await ending.close();
  }
}

function shutdownSync() {
  const ending = endDevices();
  if (!ending) return;
  try {
    ending.callSync('shutdown');
  } finally {
    ending.close();
  }
}

// Checked here, so that only a name the fenwyr thread knows is sent to it.
function controlName(name) {
  if (typeof name !== 'string' || !Object.hasOwn(CONTROLS, name))
    throw new CameraError(`no control is called "${String(name)}"`, codes.E_INVALIDARG);
  return name;
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

class Device extends EventEmitter {
  constructor({ index, name, path }) {
    super();
    this.index = index;
    this.name = name;
    this.path = path;
    this._state = 'closed';
    this._open = true;
    this._capacity = 0;
    this._unused = null;
    this._grabs = null;
    // Grabs are numbered; an aborted one's number goes to the grab thread, which stops waiting.
    this._grabTicket = 0;
    this._aborts = null;
    this._supervision = { stallMs: 0, recover: false };
  }

  // The state as last reported: by this object's calls, and by the fenwyr thread's watch,
  // which looks every 100 ms.
  get state() {
    return this._state;
  }

  // The fenwyr thread saw the state change; a failure is an 'error' (Node's convention: with no
  // listener, it is thrown), unless the package recovers the device from it.
  _changed(state, happened, detail) {
    this._state = state;
    if (happened === 'lost' || happened === 'returned') this.emit(happened);
    else if (happened === 'stalled' || happened === 'recovered') this.emit(happened, detail);
    else if (happened === 'failed' && !this._supervision.recover) this.emit('error', goneError(this.index, 'failed'));
  }

  // Stall detection (stallMs 0: off, else 100 to 600000) and, with recover, the device rebuilt as
  // the host had it by the fenwyr thread: after a stall, a stream failure, or the return of a
  // device lost while running; at once, then after 1, 2, 4, 8, 16 and every 30 s until frames come.
  async supervise({ stallMs = 2000, recover = true } = {}) {
    integer(stallMs, 'stallMs');
    if (stallMs !== 0 && (stallMs < 100 || stallMs > 600000))
      throw new RangeError(`stallMs must be 0 (off) or 100 to 600000, not ${stallMs}`);
    if (typeof recover !== 'boolean') throw new TypeError(`recover must be true or false, not ${recover}`);
    await this._call('supervise', stallMs, recover);
    this._supervision = { stallMs, recover: stallMs !== 0 && recover };
  }

  // What the stream has done since the open: counts go on across recoveries.
  stats() {
    return this._call('stats');
  }

  // A call of the library for this device: its result, or the state it leaves.
  async _call(name, ...args) {
    if (!this._open) throw closedError(this.index);
    return library().call(name, this.index, ...args);
  }

  async _callForState(name, ...args) {
    this._state = await this._call(name, ...args);
  }

  // Every capability with its frame-rate range.
  formats() {
    return this._call('formats');
  }

  // The format flowing now.
  format() {
    return this._call('format');
  }

  // fps 0: the capability's default rate.
  async setFormat(index, fps = 0) {
    integer(index, 'capability');
    if (finite(fps, 'fps') < 0) throw new RangeError(`fps must be 0 (the default) or above, not ${fps}`);
    await this._callForState('setFormat', index, fps);
  }

  controls() {
    return this._call('controls');
  }

  async control(name) {
    return this._call('control', controlName(name));
  }

  async setControl(name, value) {
    controlName(name);
    if (value !== 'auto') integer(value, `control "${name}"`);
    await this._call('setControl', name, value);
  }

  // What this device's frames become, from the next frame on: 'native' (the device's own bytes),
  // 'bgr24', 'bgra', 'rgb', 'rgba' (top-down, packed, alpha 255) or 'gray'. Without an argument,
  // the current one.
  async output(name) {
    if (name !== undefined && !Object.hasOwn(OUTPUTS, name))
      throw new TypeError(`output must be one of ${Object.keys(OUTPUTS).join(', ')}`);
    return this._call('output', name);
  }

  start() {
    return this._callForState('start');
  }

  stop() {
    return this._callForState('stop');
  }

  // The newest frame not yet taken, or null when none came within timeoutMs. Rejects with
  // VFW_E_NOT_RUNNING when the device is stopped, DEVICE_LOST or DEVICE_FAILED as frames() does. The frame's data is the host's own.
  // `options` is the time-out, or { timeoutMs, output, signal }: see output().
  async grab(options = 1000) {
    const { timeoutMs = 1000, output, signal } = typeof options === 'number' ? { timeoutMs: options } : options;
    if (integer(timeoutMs, 'timeoutMs') < 0) throw new RangeError(`timeoutMs must be 0 or above, not ${timeoutMs}`);
    signal?.throwIfAborted();
    if (output !== undefined) await this.output(output);
    signal?.throwIfAborted();
    try {
      return (await abortable(this._grab(timeoutMs, null, signal), signal))[0];
    } catch (error) {
      // Not running because it was lost or failed: the code frames() throws for it.
      if (error?.hresult !== codes.VFW_E_NOT_RUNNING || !this._open) throw error;
      const state = await this._call('state').catch(() => null);
      if (state !== 'lost' && state !== 'failed') throw error;
      this._state = state;
      throw goneError(this.index, state);
    }
  }

  // [frame or null, the buffer it is in]; `offered` is a buffer to fill if it is large enough.
  async _grab(timeoutMs, offered, signal) {
    if (!this._open) throw closedError(this.index);
    if (!this._grabs) {
      this._aborts = new BigInt64Array(new SharedArrayBuffer(8));
      this._grabs = new CallThread('grab_calls.js',
        { options: { device: this.index, aborts: this._aborts.buffer }, endedError: () => closedError(this.index) });
    }
    const grabs = this._grabs;
    const aborts = this._aborts;
    for (;;) {
      if (this._capacity === 0) this._capacity = await this._call('frameSize');
        // A fresh large buffer costs more than the frame's copy (its pages are new), so one that
      // no frame was written to serves the next call.
      let buffer = offered && offered.byteLength >= this._capacity ? offered : null;
      if (!buffer && this._unused && this._unused.byteLength >= this._capacity) buffer = this._unused;
      if (buffer === this._unused) this._unused = null;
      buffer ??= new ArrayBuffer(this._capacity);
      const lentOffered = buffer === offered;
      const ticket = ++this._grabTicket;
      const onAbort = () => Atomics.store(aborts, 0, BigInt(ticket));
      // Aborted while the output or the frame size was asked: the wait never starts.
      signal?.throwIfAborted();
      signal?.addEventListener('abort', onAbort, { once: true });
      let answer;
      try {
        answer = await grabs.call('grab', buffer, timeoutMs, ticket);
      } finally {
        signal?.removeEventListener('abort', onAbort);
      }
      const { hr } = answer;
      const info = Buffer.from(answer.info);
      buffer = answer.buffer;
      if (lentOffered) offered = buffer;
      if (hr === 0) {
        const frame = frameFrom(Buffer.from(buffer), info);
        // A compressed frame is smaller than the buffer: it gets memory of its own size (nothing
        // uninitialised behind it), and the buffer serves the next grab.
        if (!lentOffered && frame.data.length < buffer.byteLength) {
          const own = Buffer.allocUnsafeSlow(frame.data.length);
          frame.data.copy(own);
          frame.data = own;
          this._unused = buffer;
        }
        return [frame, buffer];
      }
      if (!lentOffered) this._unused = buffer;
      if ((hr >>> 0) === codes.ERROR_TIMEOUT) return [null, buffer];
      if ((hr >>> 0) === codes.ERROR_INSUFFICIENT_BUFFER) {
        this._capacity = info.readInt32LE(24);
        continue;
      }
      check(hr, `grabFrame on device ${this.index}`);
    }
  }

  // Frames as they come, until the device is stopped or closed (the loop ends), lost or failed
  // (it throws DEVICE_LOST or DEVICE_FAILED; with supervise({ recover: true }) it waits instead,
  // through stalls and recoveries). With reuse, every frame's data is in one block of
  // memory, lent again when the loop asks for the next frame (the previous frame's data is then
  // empty): no new memory per frame, for hosts that are done with a frame before the next.
  async *frames({ timeoutMs = 1000, reuse = false, output, signal } = {}) {
    if (integer(timeoutMs, 'timeoutMs') < 0) throw new RangeError(`timeoutMs must be 0 or above, not ${timeoutMs}`);
    if (output !== undefined) await this.output(output);
    let buffer = null;
    for (;;) {
      // Closed (close() or shutdown()): the loop ends, whenever that happened.
      if (!this._open) return;
      signal?.throwIfAborted();
      let frame;
      try {
        // An aborted grab leaves its buffer with the grab thread: the next one takes another.
        [frame, buffer] = await abortable(
          this._grab(Math.max(timeoutMs, MIN_FRAMES_WAIT_MS), reuse ? buffer : null, signal), signal);
      } catch (error) {
        if (error === signal?.reason || !this._open) {
          if (!this._open) return;
          throw error;
        }
        if (error.hresult !== codes.VFW_E_NOT_RUNNING && error.hresult !== codes.ERROR_DEVICE_NOT_CONNECTED) throw error;
        const state = await this._call('state').catch(() => 'closed');
        if (!this._open) return;
        this._state = state;
        // Lost or failed while the package recovers it: the frames go on once it is back.
        if (this._supervision.recover && state !== 'stopped' && state !== 'closed') {
          await abortable(new Promise((resolve) => setTimeout(resolve, 100)), signal);
          continue;
        }
        if (error.hresult !== codes.VFW_E_NOT_RUNNING) throw error;
        if (state === 'lost' || state === 'failed') throw goneError(this.index, state);
        return;  // stop()
      }
      if (frame) yield frame;
    }
  }

  // The driver's property dialogs: modal, on the fenwyr thread, which waits until they close.
  showProperties() {
    return this._call('showProperties');
  }

  showPinProperties() {
    return this._call('showPinProperties');
  }

  // Builds the device's graph again: after 'returned', or to recover from a failure. Stopped
  // afterwards; format, output and controls as the device starts with them.
  reopen() {
    return this._callForState('reopen');
  }

  // `await using device = await fenwyr.open(...)` closes it at the end of the block.
  [Symbol.asyncDispose]() {
    return this.close();
  }

  // Stops the device; its graph is kept until shutdown(). Closing twice is harmless.
  async close() {
    if (!this._open) return;
    this._ended();
    openDevices.delete(this.index);
    await thread?.call('close', this.index);
  }

  // As close(), blocking until the device has stopped: for 'exit' handlers and the like.
  closeSync() {
    if (!this._open) return;
    this._ended();
    openDevices.delete(this.index);
    thread?.callSync('close', this.index);
  }

  _ended() {
    this._open = false;
    this._state = 'closed';
    this._grabs?.close();
    this._grabs = null;
  }
}

module.exports = {
  devices, devicesSync, open, openSync, shutdown, shutdownSync, listDevices, Device, CONTROLS, STATES, PIXEL_FORMATS,
  // The record and callback types of `native`'s declarations (for koffi.register, koffi.decode).
  get types() {
    return native.types;
  },
  // The DLL's exports themselves, for what the interface above leaves out, called on the calling
  // thread. The package initialises the library on a thread of its own; a host calling init here
  // makes this thread one of the library's too.
  get native() {
    return native.fenwyr();
  },
};
