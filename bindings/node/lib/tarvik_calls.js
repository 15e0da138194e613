'use strict';
// One camera's calls on a thread of its own: the library takes one call of a context at a time,
// and a capture waits up to a second for its frame. The context never leaves this thread.
const native = require('./native');
const { CameraError, codes, codedError } = require('./errors');

const MAX_PIXEL_CLOCKS = 150;

function nonZero(value, what) {
  if (!value) throw new CameraError(`${what} cannot be read or was refused`);
  return value;
}

module.exports = () => {
  const t = native.tarvik();
  let context = null;

  const ctx = () => {
    if (!context) throw new CameraError('the camera is closed');
    return context;
  };

  function aoiInfo() {
    const info = { current: { x: 0, y: 0, width: 0, height: 0 }, minimum: { width: 0, height: 0 },
      maximum: { width: 0, height: 0 }, increment: { width: 0, height: 0 } };
    t.aoiInfo(ctx(), info);
    return info;
  }

  function exposureRange() {
    const range = {};
    t.getExposureRange(ctx(), range);
    if (!range.maximum) throw new CameraError('the exposure range cannot be read');
    return range;
  }

  // Frame rates the current pixel clock and AOI allow, from the camera's frame-period range.
  function fpsRange() {
    const period = {};
    t.getFpsRange(ctx(), period);
    if (!period.minimum || !period.maximum) throw new CameraError('the frame-rate range cannot be read');
    return { minimum: 1 / period.maximum, maximum: 1 / period.minimum, periodStep: period.step };
  }

  const read = {
    aoi: () => aoiInfo().current,
    pixelClock: () => nonZero(t.getCurrentPixelClock(ctx()), 'the pixel clock'),
    fps: () => nonZero(t.getCurrentFps(ctx()), 'the frame rate'),
    exposure: () => nonZero(t.getCurrentExposure(ctx()), 'the exposure'),
    gain: () => t.getGain(ctx()),
  };

  // Each setter checks what the camera took: the library's setters return nothing.
  const write = {
    aoi(wanted) {
      t.setAoi(ctx(), wanted);
      const now = read.aoi();
      if (now.x !== wanted.x || now.y !== wanted.y || now.width !== wanted.width || now.height !== wanted.height)
        throw new CameraError(`the camera refused the AOI ${wanted.x},${wanted.y} ${wanted.width}x${wanted.height}`,
          codes.E_INVALIDARG);
    },
    pixelClock(mhz) {
      t.setPixelClock(ctx(), mhz);
      if (read.pixelClock() !== mhz) throw new CameraError(`the camera refused the pixel clock ${mhz}`, codes.E_INVALIDARG);
    },
    // The camera sets the nearest rate it can.
    fps(value) {
      nonZero(t.setFps(ctx(), value), `the frame rate ${value}`);
    },
    exposure(ms) {
      const { minimum, maximum } = exposureRange();
      if (ms < minimum || ms > maximum)
        throw new CameraError(`the exposure ${ms} ms is outside ${minimum}..${maximum} ms`, codes.E_INVALIDARG);
      t.setExposure(ctx(), ms);
    },
    gain(value) {
      t.setGain(ctx(), value);
      if (read.gain() !== value) throw new CameraError(`the camera refused the gain ${value}`, codes.E_INVALIDARG);
    },
    gamma(value) {
      t.setGamma(ctx(), value);
    },
  };

  return {
    // Opens the first available camera (8-bit mono): its id and serial number.
    open() {
      context = t.findAvailableCamera();
      if (!context) throw codedError('CAMERA_NOT_FOUND', 'no camera could be opened');
      const id = t.getCameraId(context);
      const text = Buffer.alloc(12);
      t.getCameraName(context, text);
      return { id, serial: text.toString('latin1').replace(/\0+$/, '') };
    },

    settings() {
      const { current, minimum, maximum, increment } = aoiInfo();
      const clocks = new Int32Array(MAX_PIXEL_CLOCKS);
      t.getPixelClockRange(ctx(), clocks);
      return {
        aoi: current, aoiLimits: { minimum, maximum, increment },
        pixelClocks: Array.from(clocks.filter((clock) => clock > 0)), pixelClock: read.pixelClock(),
        fpsRange: fpsRange(), fps: read.fps(), exposureRange: exposureRange(), exposure: read.exposure(),
        gain: read.gain(),
      };
    },

    set(name, value) {
      write[name](value);
    },

    start() {
      const status = t.startCapture(ctx());
      if (status !== 0) throw new CameraError(`the camera did not start (status ${status})`);
    },

    stop() {
      const status = t.stopCurrentCapture(ctx());
      if (status !== 0) throw new CameraError(`the camera did not stop (status ${status})`);
    },

    // The next frame, into `buffer` when it is the AOI's size, else into new memory.
    capture(buffer) {
      const { width, height } = read.aoi();
      if (!buffer || buffer.byteLength !== width * height) buffer = new ArrayBuffer(width * height);
      if (t.captureFrameChecked(ctx(), Buffer.from(buffer), buffer.byteLength) !== 1)
        throw new CameraError('no frame came from the camera', codes.ERROR_TIMEOUT);
      return { buffer };
    },

    close() {
      if (!context) return;
      const closing = context;
      context = null;
      const status = t.closeCamera(closing);
      if (status !== 0) throw new CameraError(`the camera did not close cleanly (status ${status})`);
    },
  };
};
