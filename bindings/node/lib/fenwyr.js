'use strict';
// Video capture devices through fenwyr.dll. The library's calls run on a thread of the package's
// own (lib/fenwyr_calls.js, the library's init thread) and each device's waits for frames on
// another (lib/grab_calls.js): the main thread only asks and receives results, frames
// (transferred, not copied) and events, and Node's shared thread pool is never used for waiting.
const EventEmitter = require('events');
const native = require('./native');
const { CallThread, abortable, callSite } = require('./call_thread');
const errors = require('./errors');
const { integer, finite } = require('./arguments');
const { STATES, PIXEL_FORMATS, OUTPUTS, CONTROLS, VIDEO_STANDARDS, fourccText } = require('./fenwyr_calls');

const { CameraError, check, codes, codedError } = errors;
const { RING } = require('./grab_calls');
const closedError = (index) => errors.closedError(`device ${index}`);

// A device that stopped delivering because it was lost or failed: DEVICE_LOST, or DEVICE_FAILED
// with the HRESULT the stream failed with.
function goneError(index, state, hresult = codes.E_FAIL, cause = undefined) {
  const lost = state === 'lost';
  return codedError(lost ? 'DEVICE_LOST' : 'DEVICE_FAILED', `device ${index} ${lost ? 'was lost' : 'failed'}`,
    lost ? codes.ERROR_DEVICE_NOT_CONNECTED : hresult, cause);
}

// fenwyr's exports that any thread may call (the header says which).
const ANY_THREAD = ['grabFrame', 'getDeviceState', 'getDeviceError', 'setOutputFormat', 'getOutputFormat',
  'getStreamStats'];

// The shortest wait of a frames() loop's grab: timeoutMs 0 would ask the grab thread again at
// once, a core's worth of round trips between frames (a frame that comes is returned at once).
const MIN_FRAMES_WAIT_MS = 10;

// The pixelFormat of each picture output's frames; a native frame's is the device's format's.
const PICTURES = { bgr24: 'RGB24', bgra: 'RGB32', rgb: 'RGB', rgba: 'RGBA', gray: 'GRAY8' };

// The open devices, by index: what their handles (the Device objects open() returns) share.
const cores = new Map();
let thread = null;
// A shutdown in progress: its promise, the thread it ends, and that thread's devices.
let ending = null;
let endingThread = null;
let endingCores = [];
// Why the fenwyr thread ended on its own; every call fails with it until shutdown().
let failure = null;

function startThread() {
  const started = new CallThread('fenwyr_calls.js', {
    onEvent: ({ index, state, happened, detail }) => cores.get(index)?.changed(state, happened, detail),
    endedError: () => new CameraError('fenwyr was shut down'),
    onFailure: (error) => {
      // A thread that was being shut down: its shutdown's call has the error.
      if (started !== thread) return;
      failure = error;
      thread = null;
      // Every handle is closed, and says so once.
      const handles = [...cores.values()].flatMap((core) => [...core.handles]);
      for (const handle of handles) handle._failure = error;
      for (const core of takeCores()) core.endGrabs();
      for (const handle of handles) handle._report(error);
    },
  });
  return started;
}

const failedError = () => codedError('LIBRARY_FAILED', failure.message, undefined, failure.cause);

// The fenwyr thread, started on first use and again after shutdown(); a call made during a
// shutdown waits for it, so that the library never has two init threads.
async function library() {
  // (What the shutdown itself met is its caller's to hear.)
  while (ending) await ending.catch(() => {});
  if (failure) throw failedError();
  return (thread ??= startThread());
}

function librarySync() {
  if (endingThread) finishShutdownSync();
  if (failure) throw failedError();
  return (thread ??= startThread());
}

function takeCores() {
  const taken = [...cores.values()];
  cores.clear();
  for (const core of taken) for (const handle of [...core.handles]) handle._end();
  return taken;
}

// A call of the fenwyr thread, its errors with the stack of the host's call (`site`).
async function call(site, name, ...args) {
  return (await library()).callFrom(site, name, ...args);
}

// Every device in the table, present or not, after looking for new ones.
function devices() {
  return call(callSite(devices), 'devices');
}

function devicesSync() {
  return librarySync().callSync('devices');
}

// The device block of the original interface: names in the process's ANSI code page.
function listDevices() {
  return call(callSite(listDevices), 'listDevices');
}

// An index, path or name; what JavaScript can judge is a TypeError or RangeError, as elsewhere.
function deviceArgument(device) {
  if (typeof device === 'string') return device;
  if (integer(device, 'a device index') < 0) throw new RangeError(`a device index is 0 or above, not ${device}`);
  return device;
}

// A new handle on the device (the fenwyr thread counted it).
function handleOf(identity) {
  let core = cores.get(identity.index);
  if (!core) {
    core = new DeviceCore(identity);
    cores.set(identity.index, core);
  }
  core.setState(identity.state);
  const handle = new Device(core);
  core.handles.add(handle);
  return handle;
}

// Opens a device given by its index, path or name: a handle of the caller's own.
async function open(device) {
  const site = callSite(open);
  const argument = deviceArgument(device);
  return handleOf(await call(site, 'open', argument));
}

function openSync(device) {
  const argument = deviceArgument(device);
  return handleOf(librarySync().callSync('open', argument));
}

// Ends every device and the library's COM use, and the fenwyr thread; the next call starts
// again. The grab threads end first: none may be inside grabFrame when the library ends.
function shutdown() {
  if (ending) return ending;
  if (failure) {
    failure = null;
    return Promise.resolve();
  }
  if (!thread) return Promise.resolve();
  endingThread = thread;
  endingCores = takeCores();
  thread = null;
  ending = (async () => {
    try {
      await Promise.all(endingCores.map((core) => core.endGrabs()));
      await endingThread?.call('shutdown');
    } finally {
      await endingThread?.close();
      endingThread = null;
      endingCores = [];
      ending = null;
    }
  })();
  return ending;
}

// A shutdown in progress, finished on this thread (its own steps then find nothing left to do).
function finishShutdownSync() {
  const t = endingThread;
  endingThread = null;
  for (const core of endingCores) core.endGrabsSync();
  try {
    t.callSync('shutdown');
  } finally {
    t.close();
  }
}

function shutdownSync() {
  if (endingThread) {
    finishShutdownSync();
    return;
  }
  if (failure) {
    failure = null;
    return;
  }
  if (!thread) return;
  endingThread = thread;
  endingCores = takeCores();
  thread = null;
  try {
    finishShutdownSync();
  } finally {
    endingCores = [];
  }
}

// Checked here, so that only a name the fenwyr thread knows is sent to it.
function controlName(name) {
  if (typeof name !== 'string' || !Object.hasOwn(CONTROLS, name))
    throw new CameraError(`no control is called "${String(name)}"`, codes.E_INVALIDARG);
  return name;
}

// { width, height, fps, pixelFormat }, each optional (0: any), checked here.
function wantedFormat({ width = 0, height = 0, fps = 0, pixelFormat }) {
  for (const [value, what] of [[width, 'width'], [height, 'height']])
    if (integer(value, what) < 0) throw new RangeError(`${what} must be 0 (any) or above, not ${value}`);
  if (finite(fps, 'fps') < 0) throw new RangeError(`fps must be 0 (any) or above, not ${fps}`);
  if (pixelFormat !== undefined && (typeof pixelFormat !== 'string' || !/^[\x20-\x7e]{1,6}$/.test(pixelFormat)))
    throw new TypeError(`pixelFormat must be a FourCC or a pixel format's name, not ${String(pixelFormat)}`);
  return { width, height, fps, pixelFormat };
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

// What the handles of one open device share: its state, its grab thread and buffers, its supervision.
class DeviceCore {
  constructor({ index, name, path }) {
    Object.assign(this, { index, name, path });
    this.state = 'closed';
    this.handles = new Set();
    this.capacity = 0;
    this.unused = null;
    this.grabs = null;
    this.grabsEnding = null;
    // Grabs are numbered; an aborted one's number goes to the grab thread, which stops waiting.
    this.ticket = 0;
    this.aborts = null;
    this.supervision = { stallMs: 0, recover: false };
  }

  setState(state) {
    this.state = state;
    // A failure is reported once; the device leaving the failed state ends that one.
    if (state !== 'failed') for (const handle of this.handles) handle._reported = false;
  }

  // The fenwyr thread's watch saw the state change; every handle hears of it.
  changed(state, happened, detail) {
    this.setState(state);
    for (const handle of [...this.handles]) handle._changed(happened, detail);
  }

  grabThread() {
    if (!this.grabs) {
      this.aborts = new BigInt64Array(new SharedArrayBuffer(8 * (RING + 1)));
      this.grabs = new CallThread('grab_calls.js',
        { options: { device: this.index, aborts: this.aborts.buffer }, endedError: () => closedError(this.index) });
    }
    return this.grabs;
  }

  abort(ticket) {
    Atomics.store(this.aborts, ticket % RING, BigInt(ticket));
  }

  // Stops every wait (each ends at its next slice) and the grab thread once none is left.
  async endGrabs() {
    const grabs = this.grabs;
    if (!grabs) return;
    this.grabs = null;
    this.grabsEnding = grabs;
    Atomics.store(this.aborts, RING, 1n);
    await grabs.call('idle').catch(() => {});
    await grabs.close();
    this.grabsEnding = null;
  }

  endGrabsSync() {
    const grabs = this.grabs ?? this.grabsEnding;
    if (!grabs) return;
    this.grabs = this.grabsEnding = null;
    Atomics.store(this.aborts, RING, 1n);
    try {
      grabs.callSync('idle');
    } catch {
      // Ended already.
    }
    grabs.close();
  }
}

class Device extends EventEmitter {
  // Handles come from open() and openSync().
  constructor(core) {
    super();
    this.index = core.index;
    this.name = core.name;
    this.path = core.path;
    this._core = core;
    this._open = true;
    // frames() loops and grab() calls of this handle in progress: they are told of a failure.
    this._consumers = 0;
    this._reported = false;
    // Aborted by close(): this handle's waits end, the other handles' go on.
    this._closing = new AbortController();
    this._failure = null;
  }

  // The state as last reported: by the device's calls, and by the fenwyr thread's watch,
  // which looks every 100 ms. 'closed' once this handle is.
  get state() {
    return this._open ? this._core.state : 'closed';
  }

  // A device failure is an 'error' only when nothing of this handle's is waiting for frames
  // (a frames() loop or a grab() then reports it), and once; none while the package recovers it.
  _changed(happened, detail) {
    if (happened === 'lost' || happened === 'returned') this.emit(happened);
    else if (happened === 'stalled' || happened === 'recovered') this.emit(happened, detail);
    else if (happened === 'failed' && !this._core.supervision.recover)
      this._report(goneError(this.index, 'failed', detail || undefined));
  }

  _report(error) {
    if (this._reported || this._consumers > 0) return;
    this._reported = true;
    this.emit('error', error);
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
    this._core.supervision = { stallMs, recover: stallMs !== 0 && recover };
  }

  // What the stream has done since the open: counts go on across recoveries.
  stats() {
    return this._call('stats');
  }

  _closedError() {
    return this._failure ? codedError('LIBRARY_FAILED', this._failure.message, undefined, this._failure.cause)
      : closedError(this.index);
  }

  // A call of the library for this device: its result, or the state it leaves.
  async _call(name, ...args) {
    if (!this._open) throw this._closedError();
    return call(callSite(this._call), name, this.index, ...args);
  }

  async _callForState(name, ...args) {
    this._core.setState(await this._call(name, ...args));
  }

  // Every capability with its frame-rate range.
  formats() {
    return this._call('formats');
  }

  // The format flowing now.
  format() {
    return this._call('format');
  }

  // A capability by its index (fps 0: its default rate), or by what the host wants:
  // { width, height, fps, pixelFormat } (each optional), chosen as chooseFormat() chooses it. The
  // second form resolves with the format chosen; none fits: FORMAT_NOT_FOUND.
  async setFormat(index, fps = 0) {
    if (index !== null && typeof index === 'object') {
      const { state, format } = await this._call('setWantedFormat', wantedFormat(index));
      this._core.setState(state);
      return format;
    }
    integer(index, 'capability');
    if (finite(fps, 'fps') < 0) throw new RangeError(`fps must be 0 (the default) or above, not ${fps}`);
    await this._callForState('setFormat', index, fps);
  }

  // The capability that serves { width, height, fps, pixelFormat } (each optional): the exact size
  // and encoding, the least bandwidth, with the rate it would be set at (the one asked for or the
  // nearest within its range); null when none does. Nothing is set.
  async chooseFormat(wanted) {
    if (wanted === null || typeof wanted !== 'object')
      throw new TypeError(`chooseFormat takes { width, height, fps, pixelFormat }, not ${wanted}`);
    return this._call('chooseFormat', wantedFormat(wanted));
  }

  // The still pin's capabilities, as formats() lists the stream's; none without a still pin.
  stillFormats() {
    return this._call('stillFormats');
  }

  // The still pin's capability for later stills (a running device stops and runs again).
  async setStillFormat(index) {
    if (integer(index, 'still capability') < 0) throw new RangeError(`a still capability is 0 or above, not ${index}`);
    await this._callForState('setStillFormat', index);
  }

  // Triggers the still pin and resolves with its still, a frame as grab()'s (with output, in that
  // output), or null when none came within timeoutMs; `options` as grab()'s, and `trigger: false`
  // waits for the next still without triggering (the device's button). Rejects with
  // E_PROP_ID_UNSUPPORTED without a still pin, VFW_E_NOT_RUNNING when stopped, DEVICE_LOST or
  // DEVICE_FAILED as grab() does.
  async still(options = 3000) {
    const { timeoutMs = 3000, output, signal, trigger = true } =
      typeof options === 'number' ? { timeoutMs: options } : options;
    if (integer(timeoutMs, 'timeoutMs') < 0) throw new RangeError(`timeoutMs must be 0 or above, not ${timeoutMs}`);
    if (typeof trigger !== 'boolean') throw new TypeError(`trigger must be true or false, not ${String(trigger)}`);
    if (output !== undefined && !Object.hasOwn(OUTPUTS, output))
      throw new TypeError(`output must be one of ${Object.keys(OUTPUTS).join(', ')}`);
    return this._consuming(signal, async () => {
      if (output !== undefined) await this.output(output);
      const deadline = Date.now() + timeoutMs;
      // The fenwyr thread triggers and answers at once; a grab thread waits for the still.
      let answer = trigger
        ? await abortable(this._call('still', 0, 0), signal, this._closing.signal)
        : { hr: codes.ERROR_TIMEOUT, buffer: new ArrayBuffer(await this._call('stillSize')), info: new ArrayBuffer(0) };
      for (;;) {
        const { hr } = answer;
        const details = Buffer.from(answer.info);
        if (hr === 0) {
          const frame = frameFrom(Buffer.from(answer.buffer), details);
          // A compressed still gets memory of its own size, as a grabbed frame does.
          if (frame.data.length < answer.buffer.byteLength) {
            const own = Buffer.allocUnsafeSlow(frame.data.length);
            frame.data.copy(own);
            frame.data = own;
          }
          return frame;
        }
        let capacity = answer.buffer.byteLength;
        if ((hr >>> 0) === codes.E_PROP_ID_UNSUPPORTED)
          throw new CameraError(`device ${this.index} has no still pin`, codes.E_PROP_ID_UNSUPPORTED);
        // A still too large for the buffer stays unread for a larger one.
        if ((hr >>> 0) === codes.ERROR_INSUFFICIENT_BUFFER) capacity = details.readInt32LE(24);
        else if ((hr >>> 0) !== codes.ERROR_TIMEOUT) check(hr, `takeStill on device ${this.index}`);
        else if (Date.now() >= deadline) return null;
        signal?.throwIfAborted();
        if (!this._open) throw this._closedError();
        answer = await this._onGrabThread('still', new ArrayBuffer(capacity), deadline, signal);
      }
    });
  }

  // A capture card's video inputs: { index, type, connector, routed, audio: { index, routed } | null }
  // with type 'composite', 'svideo', 'tuner', 'component', 'hdmi', 'sdi' or 'other'; none without a crossbar.
  inputs() {
    return this._call('inputs');
  }

  // Routes a video input (its index in inputs()) to the capture, with its audio input.
  async selectInput(index) {
    if (integer(index, 'input') < 0) throw new RangeError(`an input is 0 or above, not ${index}`);
    await this._call('selectInput', index);
  }

  // The decoder's standards by name (fenwyr.VIDEO_STANDARDS), the current one, and whether it has
  // locked onto a signal (null: it does not tell); null without an analog video decoder.
  videoStandard() {
    return this._call('videoStandard');
  }

  async setVideoStandard(name) {
    if (typeof name !== 'string' || !Object.hasOwn(VIDEO_STANDARDS, name))
      throw new TypeError(`a video standard is one of ${Object.keys(VIDEO_STANDARDS).join(', ')}, not ${String(name)}`);
    await this._call('setVideoStandard', name);
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

  // Sets the output and says which pixelFormat its frames have: a frame taken before the change
  // (grabFrame returns the newest unread one) is of the output before.
  async _picture(output) {
    await this.output(output);
    return { output, pixelFormat: PICTURES[output] ?? (await this.format()).pixelFormat };
  }

  start() {
    return this._callForState('start');
  }

  stop() {
    return this._callForState('stop');
  }

  // The newest frame not yet taken, or null when none came within timeoutMs. Rejects with
  // VFW_E_NOT_RUNNING when the device is stopped, DEVICE_LOST or DEVICE_FAILED as frames() does.
  // The frame's data is the host's own. `options` is the time-out, or { timeoutMs, output, signal }:
  // with output, the frame is in that output.
  async grab(options = 1000) {
    const { timeoutMs = 1000, output, signal } = typeof options === 'number' ? { timeoutMs: options } : options;
    if (integer(timeoutMs, 'timeoutMs') < 0) throw new RangeError(`timeoutMs must be 0 or above, not ${timeoutMs}`);
    return this._consuming(signal, async () => {
      const picture = output === undefined ? null : await this._picture(output);
      return (await this._grab(timeoutMs, null, signal, picture))[0];
    });
  }

  // Runs a wait that consumes this handle's failures (grab() and still()): an abort rejects with
  // its reason, a close with DEVICE_CLOSED, a device stopped by a loss or failure with the code
  // frames() throws for it.
  async _consuming(signal, wait) {
    signal?.throwIfAborted();
    ++this._consumers;
    try {
      return await wait();
    } catch (error) {
      if (error === signal?.reason) throw error;
      if (!this._open) throw this._closedError();
      if (error?.hresult !== codes.VFW_E_NOT_RUNNING) throw error;
      throw (await this._gone(error)) ?? error;
    } finally {
      --this._consumers;
    }
  }

  // DEVICE_LOST or DEVICE_FAILED when the device is so (the failure then counts as reported), else null.
  async _gone(cause) {
    const { state, error } = await this._call('failure').catch(() => ({ state: null }));
    if (state !== 'lost' && state !== 'failed') return null;
    this._core.setState(state);
    if (state === 'failed') this._reported = true;
    return goneError(this.index, state, error, cause);
  }

  // One wait of the grab thread ('grab' or 'still') until the deadline; an abort or a close ends
  // it at once, and the grab thread within a slice.
  async _onGrabThread(wait, buffer, deadline, signal) {
    const core = this._core;
    const grabs = core.grabThread();
    const ticket = ++core.ticket;
    const onAbort = () => core.abort(ticket);
    const signals = [signal, this._closing.signal];
    const waiting = abortable(grabs.call(wait, buffer, Math.max(0, deadline - Date.now()), ticket), ...signals);
    signals.forEach((s) => s?.addEventListener('abort', onAbort, { once: true }));
    try {
      return await waiting;
    } finally {
      signals.forEach((s) => s?.removeEventListener('abort', onAbort));
    }
  }

  // [frame or null, the buffer it is in]; `offered` is a buffer to fill if it is large enough;
  // with `picture`, a frame of another pixelFormat is passed over.
  async _grab(timeoutMs, offered, signal, picture) {
    const core = this._core;
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      if (!this._open) throw this._closedError();
      if (core.capacity === 0) core.capacity = await this._call('frameSize');
      // A fresh large buffer costs more than the frame's copy (its pages are new), so one that
      // no frame was written to serves the next call.
      let buffer = offered && offered.byteLength >= core.capacity ? offered : null;
      if (!buffer && core.unused && core.unused.byteLength >= core.capacity) buffer = core.unused;
      if (buffer === core.unused) core.unused = null;
      buffer ??= new ArrayBuffer(core.capacity);
      const lentOffered = buffer === offered;
      signal?.throwIfAborted();
      if (!this._open) throw this._closedError();
      // An aborted grab leaves its buffer with the grab thread: the next one takes another.
      const answer = await this._onGrabThread('grab', buffer, deadline, signal);
      const { hr } = answer;
      const info = Buffer.from(answer.info);
      buffer = answer.buffer;
      if (lentOffered) offered = buffer;
      if (hr === 0) {
        const frame = frameFrom(Buffer.from(buffer), info);
        if (picture && frame.pixelFormat !== picture.pixelFormat) {
          // A native frame's pixelFormat changes with the format: asked again.
          if (picture.output === 'native') picture.pixelFormat = (await this.format()).pixelFormat;
          if (frame.pixelFormat !== picture.pixelFormat) {
            if (!lentOffered) core.unused = buffer;
            if (Date.now() >= deadline) return [null, buffer];
            continue;
          }
        }
        // A compressed frame is smaller than the buffer: it gets memory of its own size (nothing
        // uninitialised behind it), and the buffer serves the next grab.
        if (!lentOffered && frame.data.length < buffer.byteLength) {
          const own = Buffer.allocUnsafeSlow(frame.data.length);
          frame.data.copy(own);
          frame.data = own;
          core.unused = buffer;
        }
        return [frame, buffer];
      }
      if (!lentOffered) core.unused = buffer;
      if ((hr >>> 0) === codes.ERROR_TIMEOUT) return [null, buffer];
      if ((hr >>> 0) === codes.ERROR_INSUFFICIENT_BUFFER) {
        core.capacity = info.readInt32LE(24);
        continue;
      }
      check(hr, `grabFrame on device ${this.index}`);
    }
  }

  // Frames as they come, until the device is stopped or this handle closed (the loop ends), lost
  // or failed (it throws DEVICE_LOST or DEVICE_FAILED; with supervise({ recover: true }) it waits
  // instead, through stalls and recoveries). With reuse, every frame's data is in one block of
  // memory, lent again when the loop asks for the next frame (the previous frame's data is then
  // empty): no new memory per frame, for hosts that are done with a frame before the next.
  async *frames({ timeoutMs = 1000, reuse = false, output, signal } = {}) {
    if (integer(timeoutMs, 'timeoutMs') < 0) throw new RangeError(`timeoutMs must be 0 or above, not ${timeoutMs}`);
    ++this._consumers;
    try {
      const picture = output === undefined ? null : await this._picture(output);
      let buffer = null;
      for (;;) {
        // Closed (close() or shutdown()): the loop ends, whenever that happened.
        if (!this._open) {
          if (this._failure) throw this._closedError();
          return;
        }
        signal?.throwIfAborted();
        let frame;
        try {
          [frame, buffer] = await this._grab(Math.max(timeoutMs, MIN_FRAMES_WAIT_MS), reuse ? buffer : null, signal,
            picture);
        } catch (error) {
          if (!this._open) {
            if (this._failure) throw this._closedError();
            return;
          }
          if (error === signal?.reason) throw error;
          if (error.hresult !== codes.VFW_E_NOT_RUNNING && error.hresult !== codes.ERROR_DEVICE_NOT_CONNECTED) throw error;
          const state = await this._call('state').catch(() => 'closed');
          if (!this._open) return;
          this._core.setState(state);
          // Lost or failed while the package recovers it: the frames go on once it is back.
          if (this._core.supervision.recover && state !== 'stopped' && state !== 'closed') {
            await abortable(new Promise((resolve) => setTimeout(resolve, 100)), signal, this._closing.signal)
              .catch((reason) => { if (reason === signal?.reason) throw reason; });
            continue;
          }
          if (error.hresult !== codes.VFW_E_NOT_RUNNING) throw error;
          const gone = await this._gone(error);
          if (gone) throw gone;
          return;  // stop()
        }
        if (frame) yield frame;
      }
    } finally {
      --this._consumers;
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

  // `using device = fenwyr.openSync(...)`.
  [Symbol.dispose]() {
    this.closeSync();
  }

  // Closes this handle: its loops end, its waits stop. The device stops with its last handle
  // (its graph is kept until shutdown()). Closing twice is harmless.
  async close() {
    if (!this._open) return;
    const last = this._end();
    await Promise.all([last?.endGrabs(), thread?.call('close', this.index)]);
  }

  // As close(), blocking until the device has stopped: for 'exit' handlers and the like.
  closeSync() {
    if (!this._open) return;
    const last = this._end();
    last?.endGrabsSync();
    thread?.callSync('close', this.index);
  }

  // Marks the handle closed; the device's core when this was its last handle.
  _end() {
    this._open = false;
    this._closing.abort();
    const core = this._core;
    core.handles.delete(this);
    if (core.handles.size > 0) return null;
    if (cores.get(core.index) === core) cores.delete(core.index);
    return core;
  }
}

module.exports = {
  devices, devicesSync, open, openSync, shutdown, shutdownSync, listDevices, Device, CONTROLS, STATES, PIXEL_FORMATS,
  VIDEO_STANDARDS,
  // The record and callback types of `native`'s declarations (for koffi.register, koffi.decode).
  get types() {
    return native.types;
  },
  // The DLL's exports that any thread may call, for what the interface above leaves out, called
  // on the calling thread. The others belong to the library's init thread, the package's own.
  get native() {
    const n = native.fenwyr();
    return Object.fromEntries(ANY_THREAD.map((name) => [name, n[name]]));
  },
};
