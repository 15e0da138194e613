'use strict';
// tarvik through the package with the stand-in camera, as a Node host uses it.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { tarvik, CameraError } = require('..');
const { within } = require('./support');

test('the camera\'s settings read and set within their ranges, and refusals throw', async (t) => {
  const camera = await tarvik.Camera.open();
  // What `await using` calls at the end of its block (Node 22 has the symbol, not yet the syntax).
  t.after(() => camera[Symbol.asyncDispose]());
  assert.ok(camera.id >= 0 && camera.id <= 255);
  assert.match(camera.serial, /^\d{1,12}$/);
  const before = await camera.settings();
  const { minimum, maximum, increment } = before.aoiLimits;
  assert.ok(minimum.width > 0 && maximum.width >= minimum.width && increment.width > 0);
  assert.ok(before.pixelClocks.length > 1 && before.pixelClocks.includes(before.pixelClock));
  assert.strictEqual(before.gamma, null);

  const aoi = { x: 16, y: 8, width: 320, height: 240 };
  await camera.set({ aoi, pixelClock: before.pixelClocks[0] });
  const slow = await camera.settings();
  assert.deepStrictEqual([slow.aoi, slow.pixelClock], [aoi, before.pixelClocks[0]]);
  const fps = slow.fpsRange.minimum * 2;
  const exposure = slow.exposureRange.minimum + (slow.exposureRange.maximum - slow.exposureRange.minimum) / 4;
  await camera.set({ pixelClock: before.pixelClocks.at(-1), fps, exposure, gain: 40, gamma: 160 });
  const after = await camera.settings();
  assert.ok(Math.abs(after.fps - fps) < 0.5);
  assert.ok(Math.abs(after.exposure - exposure) <= after.exposureRange.step);
  assert.deepStrictEqual([after.gain, after.gamma], [40, 160]);

  // What JavaScript can judge is refused before the camera sees anything; the rest by the camera.
  const refused = [
    [{ fps: NaN }, TypeError], [{ fps: -5 }, RangeError], [{ gain: 1.5 }, TypeError], [{ gain: '40' }, TypeError],
    [{ gain: 2 ** 31 }, RangeError], [{ aoi: { x: 0.5, y: 0, width: 320, height: 240 } }, TypeError],
    [{ loudness: 3 }, TypeError], [{ toString: 1 }, TypeError], [{ gain: 40, fps: 'fast' }, TypeError],
    [{ aoi: { x: 0, y: 0, width: maximum.width * 2, height: 240 } }, CameraError],
    [{ exposure: after.exposureRange.maximum * 10 }, { code: 'E_INVALIDARG' }], [{ gain: 0x8000 }, CameraError],
  ];
  for (const [values, expected] of refused) await assert.rejects(camera.set(values), expected, JSON.stringify(values));
  // undefined is "not given", and an inherited setting is not one given.
  await camera.set({ fps: undefined, gain: 41 });
  await camera.set(Object.create({ gain: 0x8000 }));
  const kept = await camera.settings();
  assert.deepStrictEqual([kept.aoi, kept.gain], [aoi, 41]);
});

test('frames are the AOI\'s size and counted by the camera, captured off the main thread', async () => {
  const camera = await tarvik.Camera.open();
  await camera.set({ aoi: { x: 0, y: 0, width: 640, height: 480 } });
  await camera.set({ fps: (await camera.settings()).fpsRange.maximum });
  await camera.start();
  const counters = [camera.captureSync().readUInt32LE(0), (await camera.capture()).readUInt32LE(0)];
  const reused = [];
  for await (const frame of camera.frames({ reuse: true })) {
    reused.push(frame);
    counters.push(frame.readUInt32LE(0));
    if (reused.length === 3) break;
  }
  assert.ok(counters.every((c, k) => k === 0 || c > counters[k - 1]), `counters ${counters}`);
  // One block of memory: a frame is emptied when the loop takes the next.
  assert.deepStrictEqual(reused.map((frame) => frame.length), [0, 0, 640 * 480]);

  // Aborting ends a capture and a loop at once; stop() and close() end a loop quietly.
  await assert.rejects(camera.capture({ signal: AbortSignal.abort() }), { name: 'AbortError' });
  const controller = new AbortController();
  const aborted = (async () => { for await (const frame of camera.frames({ signal: controller.signal })) assert.ok(frame); })();
  setTimeout(() => controller.abort(), 100);
  await assert.rejects(within(aborted, 1000, 'the aborted loop'), { name: 'AbortError' });
  for (const end of ['stop', 'close']) {
    let count = 0;
    const loop = (async () => { for await (const frame of camera.frames()) count += frame.length > 0 ? 1 : 0; })();
    await new Promise((resolve) => setTimeout(resolve, 150));
    await camera[end]();
    await within(loop, 2000, `the loop after ${end}()`);
    assert.ok(count > 0, `frames before ${end}()`);
    if (end === 'stop') await camera.start();
  }
  await camera.close();
  await assert.rejects(camera.capture(), { code: 'DEVICE_CLOSED' });
  await assert.rejects(camera.settings(), { code: 'DEVICE_CLOSED' });
  assert.throws(() => camera.captureSync(), { code: 'DEVICE_CLOSED' });
});

test('frames() waits through a late frame, and the frame-rate query value is no rate', async (t) => {
  const camera = await tarvik.Camera.open();
  t.after(() => camera.close());
  await camera.set({ aoi: { x: 0, y: 0, width: 320, height: 240 }, pixelClock: (await camera.settings()).pixelClocks[0] });
  const { fpsRange, fps } = await camera.settings();
  await assert.rejects(camera.set({ fps: 32768 }), RangeError);
  assert.strictEqual((await camera.settings()).fps, fps);
  // Below 1 fps: a capture's one-second wait ends before the next frame comes.
  assert.ok(fpsRange.minimum < 1, `the slowest rate ${fpsRange.minimum}`);
  await camera.set({ fps: fpsRange.minimum });
  await camera.start();
  const counters = [];
  for await (const frame of camera.frames({ reuse: true })) if (counters.push(frame.readUInt32LE(0)) === 2) break;
  assert.ok(counters[1] > counters[0], `counters ${counters}`);
});

// A child process, given its own environment; its exit code and output. The output goes to a
// file: Windows Node under Wine cannot write to a pipe or a null device.
function child(code, env) {
  const output = path.join(os.tmpdir(), `tarvik-child-${process.pid}.txt`);
  const fd = fs.openSync(output, 'w');
  const run = spawnSync(process.execPath, ['-e', code],
    { stdio: ['ignore', fd, fd], env: { ...process.env, ...env }, timeout: 30000 });
  fs.closeSync(fd);
  const printed = fs.readFileSync(output, 'utf8');
  fs.unlinkSync(output);
  return [run.status, printed];
}

test('without a camera or without the libraries, opening fails with an error and never hangs', () => {
  const empty = fs.mkdtempSync(path.join(os.tmpdir(), 'no-libraries-'));
  const opens = `
    const { tarvik, fenwyr } = require(${JSON.stringify(require.resolve('..'))});
    const names = [];
    for (const call of [() => tarvik.Camera.openSync(), () => fenwyr.devicesSync()]) {
      try { call(); names.push('none'); } catch (error) { names.push(error.name + ' ' + error.code); }
    }
    tarvik.Camera.open().then(() => names.push('none'), (error) => names.push(error.name + ' ' + error.code))
      .then(() => console.log(names.join(',')));`;
  // The stand-in reads its configuration when it is loaded: hence a child process each.
  const cases = [[{ CAMERA_STANDIN: 'present=0' }, 'CameraError CAMERA_NOT_FOUND,none,CameraError CAMERA_NOT_FOUND'],
    [{ CAMERA_LIBRARIES_DIR: empty }, Array(3).fill('CameraError LIBRARY_NOT_FOUND').join(',')]];
  try {
    for (const [env, expected] of cases) {
      const [status, printed] = child(opens, env);
      assert.deepStrictEqual([status, printed.trim().split('\n').at(-1)], [0, expected], printed);
    }
  } finally {
    fs.rmSync(empty, { recursive: true });
  }
});
