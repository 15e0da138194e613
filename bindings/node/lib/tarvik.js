'use strict';
// The industrial camera through tarvik.dll. Each Camera has a thread of the package's own that
// holds its context and makes its calls one at a time (lib/tarvik_calls.js), so neither a
// setting nor a capture's wait blocks the event loop or Node's shared thread pool.
const native = require('./native');
const { CallThread, abortable } = require('./call_thread');
const { integer, finite, positive } = require('./arguments');
const errors = require('./errors');

const { codes } = errors;

const FPS_QUERY = 32768;

const closedError = () => errors.closedError('the camera');

// The settings set() takes, in the order it applies them: the AOI bounds the pixel clock, the
// clock the frame rate, the rate the exposure.
const SETTINGS = {
  aoi(rect) {
    if (!rect || typeof rect !== 'object') throw new TypeError(`an AOI is { x, y, width, height }, not ${rect}`);
    return { x: integer(rect.x, 'aoi.x'), y: integer(rect.y, 'aoi.y'), width: integer(rect.width, 'aoi.width'),
      height: integer(rect.height, 'aoi.height') };
  },
  pixelClock: (mhz) => integer(mhz, 'pixelClock'),
  // 32768 is the library's query value: it would set nothing and report success.
  fps(value) {
    if (positive(value, 'fps') === FPS_QUERY) throw new RangeError(`fps ${FPS_QUERY} is the library's query value, not a rate`);
    return value;
  },
  exposure: (ms) => finite(ms, 'exposure'),
  gain: (value) => integer(value, 'gain'),
  gamma: (value) => integer(value, 'gamma'),
};

function cameraThread() {
  return new CallThread('tarvik_calls.js', { endedError: closedError });
}

class Camera {
  constructor(thread, { id, serial }) {
    this._thread = thread;
    this._running = false;
    this._gamma = null;
    this.id = id;
    this.serial = serial;
  }

  // Opens the first available camera in 8-bit mono.
  static async open() {
    const thread = cameraThread();
    try {
      return new Camera(thread, await thread.call('open'));
    } catch (error) {
      await thread.close();
      throw error;
    }
  }

  static openSync() {
    const thread = cameraThread();
    try {
      return new Camera(thread, thread.callSync('open'));
    } catch (error) {
      thread.close();
      throw error;
    }
  }

  get isOpen() {
    return this._thread !== null;
  }

  _call(name, ...args) {
    if (!this._thread) return Promise.reject(closedError());
    return this._thread.call(name, ...args);
  }

  // { aoi, aoiLimits, pixelClocks, pixelClock, fpsRange, fps, exposureRange, exposure, gain, gamma };
  // gamma is the last one set here (the camera cannot be asked), or null.
  async settings() {
    return { ...(await this._call('settings')), gamma: this._gamma };
  }

  // Sets any of aoi, pixelClock, fps, exposure, gain and gamma, in that order; every value is
  // checked before the first reaches the camera. A refusal throws, and leaves what came before set.
  async set(values) {
    if (!values || typeof values !== 'object') throw new TypeError(`settings are an object, not ${values}`);
    // Own properties only (`in` would take toString for a setting); undefined is "not given".
    for (const name of Object.keys(values))
      if (!Object.hasOwn(SETTINGS, name)) throw new TypeError(`no setting is called "${name}"`);
    const checked = Object.keys(SETTINGS).filter((name) => Object.hasOwn(values, name) && values[name] !== undefined)
      .map((name) => [name, SETTINGS[name](values[name])]);
    for (const [name, value] of checked) {
      await this._call('set', name, value);
      if (name === 'gamma') this._gamma = value;
    }
  }

  async start() {
    await this._call('start');
    this._running = true;
  }

  async stop() {
    this._running = false;
    await this._call('stop');
  }

  // The next frame (8-bit mono, AOI width x height bytes), waiting up to a second for it.
  async capture({ signal } = {}) {
    signal?.throwIfAborted();
    return Buffer.from((await abortable(this._call('capture'), signal)).buffer);
  }

  captureSync() {
    if (!this._thread) throw closedError();
    return Buffer.from(this._thread.callSync('capture').buffer);
  }

  // Frames until stop() or close(). With reuse, every frame is in one block of memory, lent
  // again when the loop asks for the next one (the previous frame is then empty).
  async *frames({ reuse = false, signal } = {}) {
    let buffer = null;
    for (;;) {
      if (!this._thread || !this._running) return;
      signal?.throwIfAborted();
      let frame;
      try {
        frame = (await abortable(this._call('capture', reuse ? buffer : null), signal)).buffer;
      } catch (error) {
        if (error !== signal?.reason && (!this._thread || !this._running)) return;
        // A late frame (a slow rate, a long exposure) is no frame yet, as in fenwyr's frames().
        // The lent block went with the call: the next capture takes new memory.
        if (error?.hresult === codes.ERROR_TIMEOUT) {
          buffer = null;
          continue;
        }
        throw error;
      }
      buffer = frame;
      yield Buffer.from(buffer);
    }
  }

  // `await using camera = await tarvik.Camera.open()` closes it at the end of the block.
  [Symbol.asyncDispose]() {
    return this.close();
  }

  // `using camera = tarvik.Camera.openSync()`.
  [Symbol.dispose]() {
    this.closeSync();
  }

  // Closes the camera, after the call in progress; closing again does nothing.
  async close() {
    const thread = this._thread;
    if (!thread) return;
    this._thread = null;
    this._running = false;
    try {
      await thread.call('close');
    } finally {
      await thread.close();
    }
  }

  closeSync() {
    const thread = this._thread;
    if (!thread) return;
    this._thread = null;
    this._running = false;
    try {
      thread.callSync('close');
    } finally {
      thread.close();
    }
  }
}

module.exports = {
  Camera,
  // The DLL's exports themselves, called on the calling thread.
  get native() {
    return native.tarvik();
  },
};
