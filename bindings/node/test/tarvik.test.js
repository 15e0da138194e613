'use strict';
// tarvik through the package with the stand-in camera, as a Node host uses it.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { tarvik, CameraError } = require('..');

test('the camera\'s settings read and set within their ranges, and refusals throw', () => {
  const camera = tarvik.Camera.open();
  try {
    assert.ok(camera.id >= 0 && camera.id <= 255);
    assert.match(camera.serial, /^\d{1,12}$/);
    const { minimum, maximum, increment } = camera.aoiLimits;
    assert.ok(minimum.width > 0 && maximum.width >= minimum.width && increment.width > 0);
    camera.aoi = { x: 16, y: 8, width: 320, height: 240 };
    assert.deepStrictEqual(camera.aoi, { x: 16, y: 8, width: 320, height: 240 });
    assert.throws(() => { camera.aoi = { x: 0, y: 0, width: maximum.width * 2, height: 240 }; }, CameraError);
    assert.deepStrictEqual(camera.aoi, { x: 16, y: 8, width: 320, height: 240 });

    const clocks = camera.pixelClocks;
    assert.ok(clocks.length > 1 && clocks.includes(camera.pixelClock));
    camera.pixelClock = clocks[0];
    assert.strictEqual(camera.pixelClock, clocks[0]);
    camera.pixelClock = clocks[clocks.length - 1];

    const rates = camera.fpsRange;
    assert.ok(rates.minimum > 0 && rates.maximum > rates.minimum);
    camera.fps = rates.minimum * 2;
    assert.ok(Math.abs(camera.fps - rates.minimum * 2) < 0.5);
    // Checked before the camera sees them.
    assert.throws(() => { camera.fps = NaN; }, TypeError);
    assert.throws(() => { camera.fps = -5; }, RangeError);

    const exposure = camera.exposureRange;
    camera.exposure = exposure.minimum + (exposure.maximum - exposure.minimum) / 4;
    assert.ok(Math.abs(camera.exposure - (exposure.minimum + (exposure.maximum - exposure.minimum) / 4)) <= exposure.step);
    assert.throws(() => { camera.exposure = exposure.maximum * 10; }, { code: 'E_INVALIDARG' });

    camera.gain = 40;
    assert.strictEqual(camera.gain, 40);
    assert.throws(() => { camera.gain = 0x8000; }, CameraError);
    for (const bad of [NaN, 1.5, '40']) assert.throws(() => { camera.gain = bad; }, TypeError);
    assert.throws(() => { camera.gain = 2 ** 31; }, RangeError);
    assert.throws(() => { camera.aoi = { x: 0.5, y: 0, width: 320, height: 240 }; }, TypeError);
    assert.strictEqual(camera.gain, 40);
    camera.gamma = 160;
    assert.strictEqual(camera.gamma, 160);
  } finally {
    camera.close();
  }
});

test('frames are the AOI\'s size and counted by the camera, also when captured off the main thread', async () => {
  const camera = tarvik.Camera.open();
  camera.aoi = { x: 0, y: 0, width: 640, height: 480 };
  camera.fps = camera.fpsRange.maximum;
  camera.start();
  const counters = [];
  for (let k = 0; k < 3; ++k) {
    const frame = camera.capture();
    assert.strictEqual(frame.length, 640 * 480);
    counters.push(frame.readUInt32LE(0));
  }
  const later = await camera.captureAsync();
  counters.push(later.readUInt32LE(0));
  assert.ok(counters.every((c, k) => k === 0 || c > counters[k - 1]), `counters ${counters}`);
  camera.aoi = { x: 0, y: 0, width: 64, height: 32 };
  assert.strictEqual(camera.capture().length, 64 * 32);
  // The unchecked copy of the original interface, through the raw exports.
  const raw = Buffer.alloc(64 * 32);
  assert.strictEqual(tarvik.native.captureFrame(camera._context, raw), 1);
  assert.ok(raw.readUInt32LE(0) > counters[3]);
  camera.stop();
  camera.close();
  camera.close();
  assert.throws(() => camera.capture(), /closed/);
  assert.throws(() => camera.aoi, /closed/);
});

test('without a camera, open throws', () => {
  // The stand-in reads its configuration when loaded: a child process without a camera. Its
  // output goes to a file: Windows Node under Wine cannot write to a pipe or a null device.
  const output = path.join(os.tmpdir(), `tarvik-child-${process.pid}.txt`);
  const fd = fs.openSync(output, 'w');
  const child = spawnSync(process.execPath, ['-e', `
    const { tarvik } = require(${JSON.stringify(require.resolve('..'))});
    try { tarvik.Camera.open(); process.exit(1); } catch (error) { process.exit(error.name === 'CameraError' ? 0 : 2); }`],
  { stdio: ['ignore', fd, fd], env: { ...process.env, CAMERA_STANDIN: 'present=0' } });
  fs.closeSync(fd);
  const printed = fs.readFileSync(output, 'utf8');
  fs.unlinkSync(output);
  assert.strictEqual(child.status, 0, printed);
});
