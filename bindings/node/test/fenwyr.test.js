'use strict';
// fenwyr through the package, as a Node host uses it: Windows node.exe, koffi, the real DLL.
const test = require('node:test');
const assert = require('node:assert');
const crypto = require('crypto');
const fs = require('fs');
const { fenwyr, CameraError } = require('..');
const { VirtualDevices, eventWithin, within } = require('./support');

const ERROR_DEVICE_NOT_CONNECTED = 0x8007048f;
const controls = 'brightness=-64..64/2:0:manual;contrast=0..100/1:50:auto,manual;exposure=-13..-1/1:-6:auto,manual';

const devices = new VirtualDevices([
  { key: 'NodeA', name: 'Node Camera A', formats: '640x480@5-60 YUY2;320x240@30 RGB24', tag: 0x1a,
    devicePath: '\\\\?\\usb#vid_1234&pid_000a#node_a', strings: { Controls: controls } },
  { key: 'NodeB', name: 'Node Camera B', formats: '320x240@60 YUY2;320x240@30 MJPG', tag: 0x1b,
    devicePath: '\\\\?\\usb#node_b' },
  { key: 'NodeC', name: 'Node Camera C ✓', formats: '160x120@60 RGB24', tag: 0x1c, devicePath: '\\\\?\\usb#node_c',
    dwords: { FrameLimit: 10, NoPropertyPages: 1 } },
  { key: 'NodeD', name: 'Node Camera D', formats: '160x120@30 YUY2', tag: 0x1d },
  { key: 'NodeE', name: 'Node Camera E', formats: '160x120@30 YUY2', tag: 0x1e },
]);
test.after(async () => {
  await fenwyr.shutdown();
  devices.dispose();
});

// Collects frames from a running device until `count` came, checking each against the device.
async function collect(device, tag, count) {
  const frames = [];
  for await (const frame of device.frames()) {
    assert.strictEqual(frame.data.readUInt32LE(4), tag, 'the frame carries its own device\'s Tag');
    frames.push(frame);
    if (frames.length === count) break;
  }
  return frames;
}

test('devices are listed with UTF-8 names and paths, and found by index, path or name', async () => {
  const list = await fenwyr.devices();
  assert.deepStrictEqual(list.map((d) => [d.index, d.name, d.state]),
    [[0, 'Node Camera A', 'closed'], [1, 'Node Camera B', 'closed'], [2, 'Node Camera C ✓', 'closed'],
      [3, 'Node Camera D', 'closed'], [4, 'Node Camera E', 'closed']]);
  assert.strictEqual(list[0].path, '\\\\?\\usb#vid_1234&pid_000a#node_a');
  assert.deepStrictEqual((await fenwyr.listDevices()).map((d) => d.name.slice(0, 13)),
    ['Node Camera A', 'Node Camera B', 'Node Camera C', 'Node Camera D', 'Node Camera E']);
  const byPath = await fenwyr.open('\\\\?\\USB#node_b');
  const byName = fenwyr.openSync('Node Camera C ✓');
  assert.deepStrictEqual([byPath.index, byName.index], [1, 2]);
  assert.strictEqual(byPath.state, 'stopped');
  await assert.rejects(fenwyr.open('no such camera'), { name: 'CameraError', code: 'DEVICE_NOT_FOUND' });
  // What JavaScript can judge never reaches the library: no index is negative or past 32 bits.
  for (const [device, Kind] of [[1.5, TypeError], [NaN, TypeError], [null, TypeError], [-1, RangeError], [2 ** 32, RangeError]]) {
    await assert.rejects(fenwyr.open(device), Kind, String(device));
    assert.throws(() => fenwyr.openSync(device), Kind, String(device));
  }
  await assert.rejects(fenwyr.open(7), { code: 'DEVICE_NOT_FOUND', hresult: 0x80070057 });
  assert.throws(() => fenwyr.openSync(7), { code: 'DEVICE_NOT_FOUND' });
  // The blocking versions, for exit handlers: the next call starts the library again.
  byName.closeSync();
  fenwyr.shutdownSync();
  assert.strictEqual(byPath.state, 'closed');
  assert.deepStrictEqual(fenwyr.devicesSync().map((d) => d.state), ['closed', 'closed', 'closed', 'closed', 'closed']);
});

test('frames come off the main thread in order, and stopping while they flow returns', async () => {
  const a = await fenwyr.open(0);
  const b = await fenwyr.open('Node Camera B');
  await a.start();
  await b.start();
  const [fromA, fromB] = await within(Promise.all([collect(a, 0x1a, 20), collect(b, 0x1b, 20)]), 10000, 'frames');
  for (const [frames, width, height] of [[fromA, 640, 480], [fromB, 320, 240]]) {
    assert.deepStrictEqual([frames[0].width, frames[0].height, frames[0].stride, frames[0].fourcc, frames[0].bottomUp],
      [width, height, width * 2, 'YUY2', false]);
    assert.strictEqual(frames[0].data.length, width * height * 2);
    for (let k = 1; k < frames.length; ++k) {
      // fenwyr's sequence and the device's own counter (bytes 0-3) move together; a gap is a
      // frame this host missed, never one sent twice.
      assert.ok(frames[k].sequence > frames[k - 1].sequence);
      assert.strictEqual(frames[k].data.readUInt32LE(0) - frames[k - 1].data.readUInt32LE(0),
        frames[k].sequence - frames[k - 1].sequence);
      assert.ok(frames[k].sampleTime > frames[k - 1].sampleTime);
    }
  }
  // Owned frames keep their bytes; reused ones are one buffer holding the newest frame.
  assert.ok(fromA.every((frame, k) => k === 0 || frame.data.buffer !== fromA[k - 1].data.buffer));
  const firstCounter = fromA[0].data.readUInt32LE(0);
  // Reused: one block of memory travels to the grab thread and back, so a frame's data is
  // handed back (emptied) when the loop asks for the next one.
  const reused = [];
  for await (const frame of a.frames({ reuse: true })) {
    reused.push([frame, frame.data.readUInt32LE(0)]);
    if (reused.length === 5) break;
  }
  assert.ok(reused.every(([frame], k) => k === 4 || frame.data.length === 0));
  assert.strictEqual(reused[4][0].data.length, 640 * 480 * 2);
  assert.ok(reused.every(([, counter], k) => k === 0 || counter > reused[k - 1][1]));
  assert.strictEqual(fromA[0].data.readUInt32LE(0), firstCounter);
  // timeoutMs 0 still waits a little per grab: the loop does not spin a core between frames.
  let grabs = 0;
  a._grab = (...args) => { grabs += 1; return Object.getPrototypeOf(a)._grab.apply(a, args); };
  let polled = 0;
  const until = Date.now() + 300;
  try {
    for await (const frame of a.frames({ timeoutMs: 0 })) if (frame && ++polled && Date.now() >= until) break;
  } finally {
    delete a._grab;
  }
  assert.ok(grabs <= polled + 40, `${grabs} grabs for ${polled} frames in 300 ms`);

  // The case that deadlocks a host taking callbacks: stop from the main thread while a grab
  // waits on a worker thread.
  const flowing = (async () => {
    let count = 0;
    for await (const frame of a.frames()) count += frame ? 1 : 0;
    return count;
  })();
  await new Promise((resolve) => setTimeout(resolve, 300));
  await within(a.stop(), 2000, 'stop while a grab waits');
  assert.ok((await within(flowing, 3000, 'the frame loop\'s end')) > 0);
  await b.stop();
  await assert.rejects(a.grab(0), { code: 'VFW_E_NOT_RUNNING' });
});

test('frames arrive as pictures of the output asked for, red bar red', async () => {
  const b = await fenwyr.open(1);  // 320x240 YUY2
  await b.start();
  // The newest-frame copy starts with the first grab.
  assert.ok(await b.grab(2000));
  const expected = { bgr24: [3, 'RGB24', [0, 0, 255]], rgba: [4, 'RGBA', [255, 0, 0, 255]], gray: [1, 'GRAY8', [82]] };
  for (const [output, [bytes, pixelFormat, red]] of Object.entries(expected)) {
    // A frame of the previous output is waiting when the output changes: it is never returned.
    await new Promise((resolve) => setTimeout(resolve, 100));
    const frame = await within(b.grab({ timeoutMs: 2000, output }), 5000, `a ${output} frame`);
    assert.strictEqual(frame.pixelFormat, pixelFormat);
    assert.strictEqual(await b.output(), output);
    assert.deepStrictEqual([frame.stride, frame.bottomUp, frame.fourcc, frame.data.length],
      [320 * bytes, false, '', 320 * 240 * bytes]);
    // The red bar (the sixth eighth) in the top rows; luma 82 in the grey picture.
    const at = 10 * frame.stride + 220 * bytes;
    red.forEach((value, k) => assert.ok(Math.abs(frame.data[at + k] - value) <= 3, `${output} channel ${k}`));
  }
  await new Promise((resolve) => setTimeout(resolve, 100));
  for await (const frame of b.frames({ output: 'native' })) {
    assert.deepStrictEqual([frame.pixelFormat, frame.data.length], ['YUY2', 320 * 240 * 2]);
    break;
  }
  for (const name of ['yuv', 'toString']) await assert.rejects(b.output(name), TypeError, name);
  // A compressed frame has memory of its own size, not a slice of a frame-sized buffer.
  await b.setFormat(1);
  let jpeg;
  do {
    jpeg = await within(b.grab(2000), 5000, 'an MJPG frame');
  } while (jpeg.pixelFormat !== 'MJPG');
  assert.deepStrictEqual([jpeg.data[0], jpeg.data[1], jpeg.data.buffer.byteLength], [0xff, 0xd8, jpeg.data.length]);
  assert.ok(jpeg.data.length < 320 * 240 * 2);
  await b.setFormat(0);
  // An unread frame outlasts a stop: the next test's first frame is to be YUY2, not a JPEG.
  assert.strictEqual((await b.grab({ output: 'native', timeoutMs: 2000 })).pixelFormat, 'YUY2');
  await b.stop();
});

test('formats and controls round-trip; arguments are checked before any call', async () => {
  const a = await fenwyr.open(0);
  const formats = await a.formats();
  assert.deepStrictEqual(formats.map((f) => [f.index, f.width, f.height, f.pixelFormat, f.fourcc]),
    [[0, 640, 480, 'YUY2', 'YUY2'], [1, 320, 240, 'RGB24', '']]);
  assert.ok(Math.abs(formats[0].minFps - 5) < 1e-3 && Math.abs(formats[0].maxFps - 60) < 1e-3);
  await a.setFormat(1);
  assert.deepStrictEqual(Object.values(await a.format()).slice(0, 2), [320, 240]);
  await a.setFormat(0, 25);
  assert.ok(Math.abs((await a.format()).fps - 25) < 1e-3);
  // By what the host wants: the capability chosen, at the nearest rate within its range.
  const chosen = [];
  for (const wanted of [{ width: 320, height: 240 }, { pixelFormat: 'YUY2', fps: 25 }, { width: 640, fps: 100 },
    { pixelFormat: 'RGB24' }]) {
    const format = await a.setFormat(wanted);
    const now = await a.format();
    chosen.push([format.index, format.pixelFormat, Math.round(format.fps), now.width, Math.round(now.fps)]);
  }
  assert.deepStrictEqual(chosen,
    [[1, 'RGB24', 30, 320, 30], [0, 'YUY2', 25, 640, 25], [0, 'YUY2', 60, 640, 60], [1, 'RGB24', 30, 320, 30]]);
  await assert.rejects(a.setFormat({ width: 1920 }), { code: 'FORMAT_NOT_FOUND' });
  await assert.rejects(a.setFormat({ width: 1.5 }), TypeError);
  const refused = [[() => a.setFormat(0, 100), { code: 'E_INVALIDARG' }], [() => a.setFormat(5), { code: 'E_INVALIDARG' }],
    [() => a.setFormat(0.5), TypeError], [() => a.setFormat(0, NaN), TypeError], [() => a.setFormat(0, -1), RangeError],
    [() => a.setControl('brightness', 1.5), TypeError], [() => a.setControl('brightness', 11), { code: 'E_INVALIDARG' }],
    [() => a.setControl('brightness', 'auto'), { code: 'E_INVALIDARG' }],
    [() => a.control('zoom'), { code: 'E_PROP_ID_UNSUPPORTED' }], [() => a.control('loudness'), { code: 'E_INVALIDARG' }],
    [() => a.grab(-1), RangeError]];
  for (const [call, expected] of refused) await assert.rejects(call(), expected);
  // A library's refusal is thrown from the host's call, not from the package's message handler.
  assert.match((await a.control('zoom').catch((error) => error)).stack, /fenwyr\.test\.js/);

  assert.deepStrictEqual((await a.controls()).map((c) => c.name), ['brightness', 'contrast', 'exposure']);
  await a.setControl('brightness', 10);
  await a.setControl('contrast', 'auto');
  const [brightness, contrast] = await Promise.all([a.control('brightness'), a.control('contrast')]);
  assert.deepStrictEqual([brightness.value, brightness.auto, contrast.auto], [10, false, true]);
});

test('an unplugged device is a lost event, and its return is announced', async () => {
  const b = await fenwyr.open(1);
  await b.start();
  assert.ok((await within(collect(b, 0x1b, 3), 5000, 'frames')).length === 3);
  const lost = eventWithin(b, 'lost', 3000);
  devices.setDword('NodeB', 'Unplugged', 1);
  await lost;
  assert.strictEqual(b.state, 'lost');
  // Frames end: at most the one frame not yet taken is left, then the iteration says why.
  let left = 0;
  await assert.rejects((async () => {
    for await (const frame of b.frames({ timeoutMs: 0 })) left += frame ? 1 : 0;
  })(), { code: 'DEVICE_LOST', hresult: ERROR_DEVICE_NOT_CONNECTED });
  assert.ok(left <= 1);
  // A grab names the condition as the loop does.
  await assert.rejects(b.grab(0), { code: 'DEVICE_LOST', hresult: ERROR_DEVICE_NOT_CONNECTED });
  const returned = eventWithin(b, 'returned', 8000);
  devices.remove('NodeB');
  await new Promise((resolve) => setTimeout(resolve, 1200));
  devices.add({ key: 'NodeB', name: 'Node Camera B', formats: '320x240@60 YUY2', tag: 0x1b,
    devicePath: '\\\\?\\usb#node_b' });
  await returned;
  // Opening it again (a second handle) opens it anew, for every handle.
  const again = await fenwyr.open('Node Camera B');
  assert.deepStrictEqual([again !== b, again.state, b.state], [true, 'stopped', 'stopped']);
  await again.close();
  await b.start();
  assert.strictEqual((await within(collect(b, 0x1b, 3), 5000, 'frames after the return')).length, 3);
  await b.stop();
  await b.reopen();
  assert.strictEqual(b.state, 'stopped');
  await b.close();
});

test('the exports any thread may call work across the FFI beside the package\'s threads', async () => {
  const n = fenwyr.native;
  // The others belong to the package's fenwyr thread, the library's init thread.
  assert.deepStrictEqual([typeof n.grabFrame, n.init, n.setFrameCallbackEx], ['function', undefined, undefined]);
  const c = await fenwyr.open(2);
  // A failure (after 10 frames, FrameLimit) is an 'error' event, as Node's emitters have it.
  const failure = eventWithin(c, 'error', 5000);
  await c.start();
  const [error] = await failure;
  // The device's own result, as its event's detail.
  assert.deepStrictEqual([error.code, error.hresult, c.state], ['DEVICE_FAILED', ERROR_DEVICE_NOT_CONNECTED, 'failed']);
  assert.deepStrictEqual([fenwyr.STATES[n.getDeviceState(2)], n.getDeviceError(2) >>> 0, n.getOutputFormat(2)],
    ['failed', ERROR_DEVICE_NOT_CONNECTED, 0]);
  const stats = Buffer.alloc(40);
  assert.strictEqual(n.getStreamStats(2, stats), 0);
  assert.strictEqual(stats.readBigInt64LE(0), 10n);
  await assert.rejects(c.showProperties(), { code: 'E_NOINTERFACE' });
  await assert.rejects(c.showPinProperties(), { code: 'E_NOINTERFACE' });
  await c.close();
  await c.close();
  await assert.rejects(c.start(), { code: 'DEVICE_CLOSED' });
});

test('each open() is a handle of its own: a close() ends only that handle\'s loops', async () => {
  const recorder = await fenwyr.open(4);
  let count = 0;
  await recorder.start();
  const recording = (async () => {
    for await (const frame of recorder.frames()) if (frame.data.readUInt32LE(4) === 0x1e && ++count === 15) break;
  })();
  {
    // A snapshot tool's handle on the same device, closed at the end of its block.
    const snapshot = await fenwyr.open('Node Camera E');
    assert.ok(await snapshot.grab(2000));
    await snapshot[Symbol.asyncDispose]();
    assert.strictEqual(snapshot.state, 'closed');
  }
  await within(recording, 5000, 'the recorder\'s frames');
  assert.deepStrictEqual([count, recorder.state], [15, 'running']);
  await recorder.close();
  // The last handle's close stops the device.
  assert.strictEqual(fenwyr.STATES[fenwyr.native.getDeviceState(4)], 'stopped');
});

test('close() or shutdown() during frames() ends the loop cleanly, whenever it comes', async () => {
  const ends = { close: (device) => device.close(), shutdown: () => fenwyr.shutdown() };
  for (const [after, end] of [[0, 'close'], [1, 'shutdown'], [30, 'close'], [250, 'close'], [250, 'shutdown']]) {
    const d = await fenwyr.open(3);
    await d.start();
    const loop = (async () => {
      let count = 0;
      for await (const frame of d.frames()) count += frame ? 1 : 0;
      return count;
    })();
    await new Promise((resolve) => setTimeout(resolve, after));
    const ending = ends[end](d);
    assert.ok((await within(loop, 3000, `the loop, ${end}() after ${after} ms`)) >= 0);
    await within(ending, 3000, end);
    await assert.rejects(d.grab(0), { code: 'DEVICE_CLOSED' });
  }
});

test('an abort signal ends a grab and a frame loop at once; disposing closes the device', async () => {
  const d = await fenwyr.open(3);
  await d.start();
  await assert.rejects(d.grab({ signal: AbortSignal.abort() }), { name: 'AbortError' });
  const controller = new AbortController();
  const loop = (async () => {
    for await (const frame of d.frames({ signal: controller.signal })) assert.ok(frame === null || frame.width === 160);
  })();
  await new Promise((resolve) => setTimeout(resolve, 200));
  const aborted = Date.now();
  controller.abort();
  await assert.rejects(within(loop, 1000, 'the aborted loop'), { name: 'AbortError' });
  assert.ok(Date.now() - aborted < 500);
  await d[Symbol.asyncDispose]();
  await assert.rejects(d.stop(), { code: 'DEVICE_CLOSED' });
});

// The p50 of `count` calls of an fs call, one after another, in ms.
async function fsLatency(count) {
  const times = [];
  for (let k = 0; k < count; ++k) {
    const begin = process.hrtime.bigint();
    await fs.promises.readFile(__filename);
    times.push(Number(process.hrtime.bigint() - begin) / 1e6);
  }
  return times.sort((x, y) => x - y)[Math.floor(count / 2)];
}

test('four devices streaming leave Node\'s thread pool to fs and crypto', async () => {
  const idle = await fsLatency(60);
  const streaming = await Promise.all([0, 1, 3, 4].map((index) => fenwyr.open(index)));
  let running = true;
  const counts = streaming.map(() => 0);
  const loops = streaming.map(async (device, k) => {
    await device.start();
    for await (const frame of device.frames({ reuse: true })) {
      if (frame) ++counts[k];
      if (!running) break;
    }
  });
  await within((async () => {
    while (counts.some((count) => count < 3)) await new Promise((resolve) => setTimeout(resolve, 20));
  })(), 10000, 'frames from all four devices');
  counts.fill(0);
  const busy = await fsLatency(60);
  const hashed = await within(new Promise((resolve, reject) =>
    crypto.pbkdf2('secret', 'salt', 1000, 32, 'sha256', (error, key) => (error ? reject(error) : resolve(key)))),
  2000, 'a pbkdf2 call');
  running = false;
  await within(Promise.all(loops), 5000, 'the frame loops\' end');
  await Promise.all(streaming.map((device) => device.stop()));
  console.log(`# fs p50 ${idle.toFixed(2)} ms idle, ${busy.toFixed(2)} ms with four devices streaming`);
  assert.strictEqual(hashed.length, 32);
  assert.ok(counts.every((count) => count > 0), `every device streamed while fs and crypto ran: ${counts}`);
  // Waits for frames hold none of the pool's four threads: fs is not queued behind them (when
  // they did, its p50 was 44-61 ms against 3 ms idle).
  assert.ok(busy < idle * 3 + 10, `fs p50 ${busy} ms with four devices streaming, ${idle} ms idle`);
});

test('a second copy of the package loads beside the first (its koffi types have names of their own)', () => {
  const file = require.resolve('../lib/native');
  const first = require.cache[file];
  delete require.cache[file];
  try {
    assert.doesNotThrow(() => require('../lib/native'));
  } finally {
    require.cache[file] = first;
  }
});
