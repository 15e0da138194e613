'use strict';
// A camera's still pin and a capture card's inputs and standard, through the package.
const test = require('node:test');
const assert = require('node:assert');
const { fenwyr } = require('..');
const { VirtualDevices, within } = require('./support');

const devices = new VirtualDevices([
  { key: 'NodeStill', name: 'Node Still Camera', formats: '320x240@30 YUY2;640x480@5-30 MJPG', tag: 0x5a,
    strings: { StillFormats: '640x480@0 YUY2;1024x768@0 RGB24' } },
  { key: 'NodePlain', name: 'Node Plain Camera', formats: '160x120@30 YUY2', tag: 0x5b },
  { key: 'NodeCard', name: 'Node Capture Card', formats: '320x240@30 YUY2', tag: 0x5c, dwords: { CaptureCard: 1 } },
]);
test.after(async () => {
  await fenwyr.shutdown();
  devices.dispose();
});

// The red bar (the sixth eighth of the width) in a top row of an 'rgb' or 'rgba' picture.
function redBar(frame) {
  const bytes = frame.stride / frame.width;
  const at = 10 * frame.stride + Math.floor(frame.width * 0.6875) * bytes;
  return [...frame.data.subarray(at, at + 3)];
}

const near = (values, expected, what) =>
  expected.forEach((value, k) => assert.ok(Math.abs(values[k] - value) <= 8, `${what}: ${values} for ${expected}`));

test('a still comes at the still size chosen, as a picture or the device\'s bytes; no still pin is refused', async () => {
  const camera = await fenwyr.open('Node Still Camera');
  assert.deepStrictEqual((await camera.stillFormats()).map((f) => [f.index, f.width, f.height, f.pixelFormat]),
    [[0, 640, 480, 'YUY2'], [1, 1024, 768, 'RGB24']]);
  await assert.rejects(camera.still(), { code: 'VFW_E_NOT_RUNNING' });
  await camera.start();
  await camera.setStillFormat(1);
  assert.strictEqual(camera.state, 'running');
  const picture = await within(camera.still({ output: 'rgba', timeoutMs: 3000 }), 5000, 'an RGBA still');
  assert.deepStrictEqual([picture.width, picture.height, picture.pixelFormat, picture.data.length],
    [1024, 768, 'RGBA', 1024 * 768 * 4]);
  near(redBar(picture), [255, 0, 0], 'the still\'s red bar');
  await camera.setStillFormat(0);
  const own = await within(camera.still({ output: 'native' }), 5000, 'a native still');
  assert.deepStrictEqual([own.width, own.height, own.pixelFormat, own.data.length, own.data.readUInt32LE(4)],
    [640, 480, 'YUY2', 640 * 480 * 2, 0x5a]);
  // The stream goes on at its own size beside the stills; a number is the time-out, as for grab().
  assert.deepStrictEqual([(await camera.grab(2000)).width, (await camera.still(2000)).width], [320, 640]);
  await assert.rejects(camera.still({ signal: AbortSignal.abort() }), { name: 'AbortError' });
  // Without a trigger the wait is for the device's button; one that never comes ends at its abort.
  const controller = new AbortController();
  const waiting = camera.still({ trigger: false, signal: controller.signal, timeoutMs: 10000 });
  setTimeout(() => controller.abort(), 300);
  await assert.rejects(within(waiting, 1000, 'the aborted still'), { name: 'AbortError' });
  const button = camera.still({ trigger: false, timeoutMs: 5000 });
  setTimeout(() => devices.setDword('NodeStill', 'StillButton', 1), 300);
  assert.strictEqual((await within(button, 6000, 'the button\'s still')).width, 640);

  const plain = await fenwyr.open('Node Plain Camera');
  await plain.start();
  assert.deepStrictEqual(await plain.stillFormats(), []);
  for (const call of [() => plain.still(), () => plain.still({ trigger: false }), () => plain.setStillFormat(0)])
    await assert.rejects(call(), { name: 'CameraError', code: 'E_PROP_ID_UNSUPPORTED', message: /no still pin/ });
  assert.ok(await plain.grab(2000), 'its stream is untouched');
  await Promise.all([camera.close(), plain.close()]);
});

test('a card\'s inputs route its picture; its standard changes and its lock follows the signal', async () => {
  const card = await fenwyr.open('Node Capture Card');
  const listed = async () =>
    (await card.inputs()).map((i) => [i.index, i.type, i.routed, i.audio?.index, i.audio?.routed]);
  assert.deepStrictEqual(await listed(),
    [[0, 'composite', true, 3, true], [1, 'svideo', false, 4, false], [2, 'hdmi', false, 5, false]]);
  await card.start();
  near(redBar(await card.grab({ output: 'rgb', timeoutMs: 2000 })), [255, 0, 0], 'input 0');
  await card.selectInput(1);
  assert.deepStrictEqual(await listed(),
    [[0, 'composite', false, 3, false], [1, 'svideo', true, 4, true], [2, 'hdmi', false, 5, false]]);
  // Input 1's picture has its red halved, from the next frame on (a frame from before may be unread).
  let red;
  for (let k = 0; k < 5 && !(red?.[0] < 200); ++k) red = redBar(await card.grab(2000));
  near(red, [128, 0, 0], 'input 1');

  assert.deepStrictEqual(await card.videoStandard(),
    { available: ['NTSC_M', 'PAL_B', 'PAL_I', 'SECAM_L'], current: 'NTSC_M', locked: true });
  await card.setVideoStandard('PAL_I');
  devices.setDword('NodeCard', 'NoSignal', 1);
  assert.deepStrictEqual(await card.videoStandard(),
    { available: ['NTSC_M', 'PAL_B', 'PAL_I', 'SECAM_L'], current: 'PAL_I', locked: false });
  devices.setDword('NodeCard', 'NoSignal', 0);
  assert.strictEqual((await card.videoStandard()).locked, true);
  await assert.rejects(card.setVideoStandard('PAL_M'), { code: 'E_INVALIDARG' });
  await assert.rejects(card.selectInput(3), { code: 'E_INVALIDARG' });

  // A camera has neither crossbar nor decoder: nothing to list, and a coded refusal to set.
  const plain = await fenwyr.open('Node Plain Camera');
  assert.deepStrictEqual([await plain.inputs(), await plain.videoStandard()], [[], null]);
  for (const call of [() => plain.selectInput(0), () => plain.setVideoStandard('PAL_B')])
    await assert.rejects(call(), { code: 'E_PROP_ID_UNSUPPORTED', message: /no (crossbar|analog video decoder)/ });
  await Promise.all([card.close(), plain.close()]);
});

test('chooseFormat answers without setting; bad arguments never reach the library', async () => {
  const camera = await fenwyr.open('Node Still Camera');
  const chosen = await camera.chooseFormat({ width: 640, pixelFormat: 'MJPG', fps: 15 });
  assert.deepStrictEqual([chosen.index, chosen.width, chosen.fourcc, chosen.fps], [1, 640, 'MJPG', 15]);
  assert.strictEqual((await camera.format()).width, 320);
  assert.strictEqual(await camera.chooseFormat({ width: 1920 }), null);
  assert.strictEqual((await camera.setFormat({ width: 640, fps: 15 })).index, 1);
  assert.strictEqual((await camera.format()).width, 640);

  // Every call of the library goes through the handle's _call: none may be made for these.
  let calls = 0;
  camera._call = () => { ++calls; return Promise.resolve(); };
  const refused = [
    [() => camera.chooseFormat(null), TypeError], [() => camera.chooseFormat({ width: -1 }), RangeError],
    [() => camera.chooseFormat({ fps: NaN }), TypeError], [() => camera.chooseFormat({ pixelFormat: 7 }), TypeError],
    [() => camera.setStillFormat(1.5), TypeError], [() => camera.setStillFormat(-1), RangeError],
    [() => camera.still({ timeoutMs: -1 }), RangeError], [() => camera.still({ output: 'jpeg' }), TypeError],
    [() => camera.still({ trigger: 1 }), TypeError],
    [() => camera.selectInput('1'), TypeError], [() => camera.selectInput(-1), RangeError],
    [() => camera.setVideoStandard('PAL'), TypeError], [() => camera.setVideoStandard('toString'), TypeError],
    [() => camera.setVideoStandard(0x10), TypeError]];
  for (const [call, Kind] of refused) await assert.rejects(call(), Kind, call.toString());
  assert.strictEqual(calls, 0);
  delete camera._call;
  await camera.close();
});
