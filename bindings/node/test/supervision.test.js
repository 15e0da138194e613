'use strict';
// Streams that stall and devices brought back by the package's fenwyr thread, as a Node host sees them.
const test = require('node:test');
const assert = require('node:assert');
const { fenwyr } = require('..');
const { VirtualDevices, eventWithin, within } = require('./support');

const small = '160x120@30 YUY2';
const devices = new VirtualDevices([
  { key: 'NodeFreeze', name: 'Node Freeze', formats: small, tag: 0x51, devicePath: '\\\\?\\usb#node_freeze' },
  { key: 'NodeStall', name: 'Node Stall', formats: small, tag: 0x52, devicePath: '\\\\?\\usb#node_stall',
    strings: { Controls: 'brightness=-64..64/2:0:manual' }, dwords: { StallAfter: 10 } },
  { key: 'NodeUnplug', name: 'Node Unplug', formats: small, tag: 0x53, devicePath: '\\\\?\\usb#node_unplug' },
  { key: 'NodeFail', name: 'Node Fail', formats: small, tag: 0x54, dwords: { FrameLimit: 5 } },
  { key: 'NodeRace', name: 'Node Race', formats: small, tag: 0x55, devicePath: '\\\\?\\usb#node_race' },
]);
test.after(async () => {
  await fenwyr.shutdown();
  devices.dispose();
});

// Every event of `names` the device sends, with its detail and the state it left.
function record(device, names) {
  const seen = [];
  for (const name of names) device.on(name, (detail) => seen.push([name, detail, device.state, Date.now()]));
  return seen;
}

test('a frozen device is stalled within its bound, counted, and resumes by itself', async (t) => {
  const device = await fenwyr.open('Node Freeze');
  await device.supervise({ stallMs: 300, recover: false });
  await device.start();
  assert.ok(await device.grab(3000));
  const stalled = eventWithin(device, 'stalled', 2000);
  devices.setDword('NodeFreeze', 'Frozen', 1);
  const [silentMs] = await stalled;
  assert.ok(silentMs >= 300 && silentMs < 1000, `stalled after ${silentMs} ms`);
  t.diagnostic(`stalled after ${silentMs} ms of 300`);
  assert.strictEqual(device.state, 'stalled');
  const during = await device.stats();
  assert.deepStrictEqual([during.stalls, during.recoveries, during.failedAttempts], [1, 0, 0]);
  assert.ok(during.frames > 0 && during.lastFrameTime > 0);
  assert.strictEqual(typeof during.lastFrameTime, 'number');

  const recovered = eventWithin(device, 'recovered', 3000);
  devices.setDword('NodeFreeze', 'Frozen', 0);
  assert.deepStrictEqual(await recovered, [0], 'it resumed by itself');
  assert.strictEqual(device.state, 'running');
  const after = await device.stats();
  assert.ok(after.frames > during.frames && after.lastFrameTime > during.lastFrameTime);
  assert.deepStrictEqual([after.stalls, after.recoveries], [1, 0]);

  // Closed while stalled, it is stopped as a running one is.
  const again = eventWithin(device, 'stalled', 2000);
  devices.setDword('NodeFreeze', 'Frozen', 1);
  await again;
  await device.close();
  devices.setDword('NodeFreeze', 'Frozen', 0);
  assert.strictEqual(fenwyr.STATES[fenwyr.native.getDeviceState(device.index)], 'stopped');
});

test('a stalled stream is recovered by the package as the host had it, and frames() goes on', async (t) => {
  const device = await fenwyr.open('Node Stall');
  await device.supervise({ stallMs: 300, recover: true });
  await device.output('bgra');
  await device.setControl('brightness', 20);
  const events = record(device, ['stalled', 'recovered']);
  // The first attempt fails (an attempt binds twice: its moniker, then the device found again).
  // Set before the start: reg.exe can take longer than the 10 frames before the stall.
  devices.setDword('NodeStall', 'FailNextBinds', 2);
  await device.start();
  const frames = [];
  await within((async () => {
    for await (const frame of device.frames()) {
      frames.push({ ...frame, at: events.length });
      if (frames.length === 30) break;
    }
  })(), 15000, 'frames across the recovery');

  assert.deepStrictEqual(events.map((e) => e.slice(0, 3)), [['stalled', events[0][1], 'stalled'], ['recovered', 2, 'running']]);
  // At once (failed), then 1 s later.
  const spacing = events[1][3] - events[0][3];
  assert.ok(spacing >= 900 && spacing < 3000, `recovered ${spacing} ms after the stall`);
  t.diagnostic(`recovered ${spacing} ms after the stall, at the second attempt`);
  // The newest frame is taken: a few of the first graph's 10 may be passed over.
  const before = frames.filter((f) => f.at === 0).length;
  assert.ok(before >= 1 && before <= 10, `${before} frames before the stall`);
  assert.strictEqual(frames.at(-1).at, 2, 'frames after the recovery');
  for (let k = 1; k < frames.length; ++k) assert.ok(frames[k].sequence > frames[k - 1].sequence);
  assert.ok(frames.every((f) => f.width === 160 && f.stride === 640 && f.pixelFormat === 'RGB32'), 'output kept');
  assert.strictEqual((await device.control('brightness')).value, 20);
  const stats = await device.stats();
  assert.deepStrictEqual([stats.stalls, stats.recoveries, stats.failedAttempts], [1, 1, 1]);
  assert.ok(stats.frames >= 30);
  await device.close();
});

test('a device lost while running is recovered once it is back, and frames() waits for it', async () => {
  const device = await fenwyr.open('Node Unplug');
  await device.supervise({ stallMs: 1000, recover: true });
  await device.start();
  const recovered = eventWithin(device, 'recovered', 12000);
  let count = 0;
  const iterating = within((async () => {
    for await (const frame of device.frames({ timeoutMs: 200 })) {
      if (frame.data.readUInt32LE(4) === 0x53 && ++count === 20) break;
    }
  })(), 15000, 'frames across the loss');

  const lost = eventWithin(device, 'lost', 3000);
  devices.setDword('NodeUnplug', 'Unplugged', 1);
  await lost;
  devices.remove('NodeUnplug');
  await new Promise((resolve) => setTimeout(resolve, 1200));
  devices.add({ key: 'NodeUnplug', name: 'Node Unplug', formats: small, tag: 0x53,
    devicePath: '\\\\?\\usb#node_unplug' });
  await recovered;
  await iterating;
  assert.strictEqual(device.state, 'running');
  assert.strictEqual((await device.stats()).recoveries, 1);
  await device.close();
});

test('a failure is reported once, to the loop waiting for it: no \'error\' then', async () => {
  // No 'error' listener: an 'error' emitted on top of the loop's throw would end the process.
  const device = await fenwyr.open('Node Fail');
  await device.start();
  await assert.rejects(within((async () => {
    for await (const frame of device.frames()) assert.ok(frame.width === 160);
  })(), 5000, 'the failure'), { code: 'DEVICE_FAILED', hresult: 0x8007048f });
  // The watch (every 100 ms) has seen the failure by now.
  await new Promise((resolve) => setTimeout(resolve, 400));
  assert.strictEqual(device.state, 'failed');
  await device.close();
});

test('an open() that races a close() of the same device is watched', async () => {
  const first = await fenwyr.open('Node Race');
  const opening = fenwyr.open('Node Race');
  await first.close();
  const second = await opening;
  await second.start();
  const lost = eventWithin(second, 'lost', 3000);
  devices.setDword('NodeRace', 'Unplugged', 1);
  await lost;
  assert.strictEqual(second.state, 'lost');
  await second.close();
});
