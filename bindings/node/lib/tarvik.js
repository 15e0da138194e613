'use strict';
// The industrial camera through tarvik.dll. A Camera owns its context: every call checks that
// it is still open, so a closed camera throws instead of passing a freed pointer.
const native = require('./native');
const { integer, finite, positive } = require('./arguments');
const { CameraError, codes } = require('./errors');

const MAX_PIXEL_CLOCKS = 150;

class Camera {
  constructor(context) {
    this._context = context;
    this._busy = false;
    this._gamma = null;
  }

  // Opens the first available camera in 8-bit mono.
  static open() {
    const context = native.tarvik().findAvailableCamera();
    if (!context) throw new CameraError('no camera could be opened');
    return new Camera(context);
  }

  _ctx() {
    if (!this._context) throw new CameraError('the camera is closed');
    if (this._busy) throw new CameraError('the camera is busy with an asynchronous capture');
    return this._context;
  }

  get isOpen() {
    return this._context !== null;
  }

  get id() {
    const id = native.tarvik().getCameraId(this._ctx());
    if (id < 0) throw new CameraError('the camera id cannot be read');
    return id;
  }

  get serial() {
    const text = Buffer.alloc(12);
    native.tarvik().getCameraName(this._ctx(), text);
    return text.toString('latin1').replace(/\0+$/, '');
  }

  _aoiInfo() {
    const info = { current: { x: 0, y: 0, width: 0, height: 0 }, minimum: { width: 0, height: 0 },
      maximum: { width: 0, height: 0 }, increment: { width: 0, height: 0 } };
    native.tarvik().aoiInfo(this._ctx(), info);
    return info;
  }

  get aoi() {
    return this._aoiInfo().current;
  }

  // The camera keeps its AOI when it refuses a new one (and says why on standard output).
  set aoi(rect) {
    if (!rect || typeof rect !== 'object') throw new TypeError(`an AOI is { x, y, width, height }, not ${rect}`);
    const wanted = { x: integer(rect.x, 'aoi.x'), y: integer(rect.y, 'aoi.y'), width: integer(rect.width, 'aoi.width'),
      height: integer(rect.height, 'aoi.height') };
    native.tarvik().setAoi(this._ctx(), wanted);
    const now = this.aoi;
    if (now.x !== wanted.x || now.y !== wanted.y || now.width !== wanted.width || now.height !== wanted.height)
      throw new CameraError(`the camera refused the AOI ${wanted.x},${wanted.y} ${wanted.width}x${wanted.height}`,
        codes.E_INVALIDARG);
  }

  get aoiLimits() {
    const { minimum, maximum, increment } = this._aoiInfo();
    return { minimum, maximum, increment };
  }

  get pixelClocks() {
    const clocks = new Int32Array(MAX_PIXEL_CLOCKS);
    native.tarvik().getPixelClockRange(this._ctx(), clocks);
    return Array.from(clocks.filter((clock) => clock > 0));
  }

  get pixelClock() {
    return this._nonZero(native.tarvik().getCurrentPixelClock(this._ctx()), 'the pixel clock');
  }

  set pixelClock(mhz) {
    native.tarvik().setPixelClock(this._ctx(), integer(mhz, 'pixelClock'));
    if (this.pixelClock !== mhz) throw new CameraError(`the camera refused the pixel clock ${mhz}`, codes.E_INVALIDARG);
  }

  // Frame rates the current pixel clock and AOI allow, from the camera's frame-period range.
  get fpsRange() {
    const period = {};
    native.tarvik().getFpsRange(this._ctx(), period);
    if (!period.minimum || !period.maximum) throw new CameraError('the frame-rate range cannot be read');
    return { minimum: 1 / period.maximum, maximum: 1 / period.minimum, periodStep: period.step };
  }

  get fps() {
    return this._nonZero(native.tarvik().getCurrentFps(this._ctx()), 'the frame rate');
  }

  // The camera sets the nearest rate it can; read fps for it.
  set fps(value) {
    positive(value, 'fps');
    this._nonZero(native.tarvik().setFps(this._ctx(), value), `the frame rate ${value}`);
  }

  get exposureRange() {
    const range = {};
    native.tarvik().getExposureRange(this._ctx(), range);
    if (!range.maximum) throw new CameraError('the exposure range cannot be read');
    return range;
  }

  get exposure() {
    return this._nonZero(native.tarvik().getCurrentExposure(this._ctx()), 'the exposure');
  }

  set exposure(ms) {
    finite(ms, 'exposure');
    const { minimum, maximum } = this.exposureRange;
    if (ms < minimum || ms > maximum)
      throw new CameraError(`the exposure ${ms} ms is outside ${minimum}..${maximum} ms`, codes.E_INVALIDARG);
    native.tarvik().setExposure(this._ctx(), ms);
  }

  get gain() {
    return native.tarvik().getGain(this._ctx());
  }

  set gain(value) {
    native.tarvik().setGain(this._ctx(), integer(value, 'gain'));
    if (this.gain !== value) throw new CameraError(`the camera refused the gain ${value}`, codes.E_INVALIDARG);
  }

  // The camera cannot be asked for its gamma: this is the last value set here, or null.
  get gamma() {
    this._ctx();
    return this._gamma;
  }

  set gamma(value) {
    native.tarvik().setGamma(this._ctx(), integer(value, 'gamma'));
    this._gamma = value;
  }

  start() {
    const status = native.tarvik().startCapture(this._ctx());
    if (status !== 0) throw new CameraError(`the camera did not start (status ${status})`);
  }

  stop() {
    const status = native.tarvik().stopCurrentCapture(this._ctx());
    if (status !== 0) throw new CameraError(`the camera did not stop (status ${status})`);
  }

  // The next frame (8-bit mono, AOI width x height bytes), waiting up to a second for it.
  capture() {
    const buffer = this._frameBuffer();
    if (native.tarvik().captureFrameChecked(this._ctx(), buffer, buffer.length) !== 1)
      throw new CameraError('no frame came from the camera', codes.ERROR_TIMEOUT);
    return buffer;
  }

  // As capture, waiting off the main thread.
  captureAsync() {
    const context = this._ctx();
    const buffer = this._frameBuffer();
    this._busy = true;
    return new Promise((resolve, reject) => {
      native.tarvik().captureFrameChecked.async(context, buffer, buffer.length, (error, copied) => {
        this._busy = false;
        if (error) reject(error);
        else if (copied !== 1) reject(new CameraError('no frame came from the camera', codes.ERROR_TIMEOUT));
        else resolve(buffer);
      });
    });
  }

  _frameBuffer() {
    const { width, height } = this.aoi;
    return Buffer.alloc(width * height);
  }

  // Closes the camera; closing again does nothing.
  close() {
    if (!this._context || this._busy) {
      if (this._busy) throw new CameraError('the camera is busy with an asynchronous capture');
      return;
    }
    const context = this._context;
    this._context = null;
    const status = native.tarvik().closeCamera(context);
    if (status !== 0) throw new CameraError(`the camera did not close cleanly (status ${status})`);
  }

  _nonZero(value, what) {
    if (!value) throw new CameraError(`${what} cannot be read or was refused`);
    return value;
  }

}

module.exports = {
  Camera,
  // The DLL's exports themselves.
  get native() {
    return native.tarvik();
  },
};
