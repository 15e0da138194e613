'use strict';
// Frames reaching JavaScript through the Node package (frames() on grabFrame, off the main
// thread; each frame in its own Buffer, or with reuse in one) against the same virtual device
// polled with grabFrame from C++ (the delivery benchmark's --grab mode), alternating, in the same
// run: the cost of the FFI as a ratio.
// Usage: node node_delivery.js <bench exe (Windows path)> [repetitions]
const { spawnSync } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const { monitorEventLoopDelay } = require('perf_hooks');
const koffi = require('koffi');
const { fenwyr } = require('../bindings/node');
const { VirtualDevices } = require('../bindings/node/test/support');

const benchExe = process.argv[2];
const repetitions = Math.max(3, Number(process.argv[3] || 5));
const seconds = 1;
// Frames a Node row pools over its runs: enough for its p99 to be a frame's, not an outlier's.
const MINIMUM_FRAMES = 1000;

const kernel32 = koffi.load('kernel32.dll');
const QueryPerformanceCounter = kernel32.func('bool __stdcall QueryPerformanceCounter(_Out_ int64_t *count)');
const QueryPerformanceFrequency = kernel32.func('bool __stdcall QueryPerformanceFrequency(_Out_ int64_t *frequency)');
const frequency = [0];
QueryPerformanceFrequency(frequency);

function now() {
  const count = [0];
  QueryPerformanceCounter(count);
  return Number(count[0]);
}

function percentile(values, p) {
  if (!values.length) return 0;
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))];
}

function median(values) {
  return percentile(values, 0.5);
}

// One run: frames/s, and every frame's delay (us) from the device's stamp (bytes 8-15) to
// JavaScript holding it, over a window of at least `seconds` and `minimumFrames` frames.
async function throughPackage(name, reuse, minimumFrames) {
  const device = await fenwyr.open(name);
  await device.start();
  const latencies = [];
  let recording = false;
  let enough;
  const full = new Promise((resolve) => { enough = resolve; });
  const loop = (async () => {
    for await (const frame of device.frames({ reuse })) {
      if (!recording) continue;
      latencies.push(((now() - Number(frame.data.readBigInt64LE(8))) * 1e6) / frequency[0]);
      if (latencies.length >= minimumFrames) enough();
    }
  })();
  await new Promise((resolve) => setTimeout(resolve, 200));
  recording = true;
  const started = process.hrtime.bigint();
  await Promise.all([new Promise((resolve) => setTimeout(resolve, seconds * 1000)), full]);
  recording = false;
  const elapsed = Number(process.hrtime.bigint() - started) / 1e9;
  await device.stop();
  await loop;
  await device.close();
  return { rate: latencies.length / elapsed, latencies, elapsed };
}

// Thread-pool work from the main thread (crypto.pbkdf2, then fs.promises.readFile), `count` times
// one after another: each call's time in ms.
async function poolWork(count) {
  const times = [];
  for (let k = 0; k < count; ++k) {
    const begin = process.hrtime.bigint();
    await new Promise((resolve, reject) =>
      crypto.pbkdf2('secret', 'salt', 1000, 32, 'sha256', (error) => (error ? reject(error) : resolve())));
    await fs.promises.readFile(__filename);
    times.push(Number(process.hrtime.bigint() - begin) / 1e6);
  }
  return times;
}

// Four devices streaming through frames() while the main thread runs pool work: frames/s of each
// device, the work's p50/p99 against the same work with nothing streaming, the event loop's p99 delay.
async function fourDevicesWithPoolWork(names) {
  const idle = await poolWork(200);
  const delay = monitorEventLoopDelay({ resolution: 1 });
  // Opening and starting happen on the package's threads: the event loop's longest wait meanwhile.
  const opening = monitorEventLoopDelay({ resolution: 1 });
  opening.enable();
  const devices = await Promise.all(names.map((name) => fenwyr.open(name)));
  const counts = devices.map(() => 0);
  let running = true;
  const loops = devices.map(async (device, k) => {
    await device.start();
    for await (const frame of device.frames({ reuse: true })) {
      if (frame) ++counts[k];
      if (!running) break;
    }
  });
  await new Promise((resolve) => setTimeout(resolve, 300));
  opening.disable();
  counts.fill(0);
  delay.enable();
  const started = process.hrtime.bigint();
  const busy = await poolWork(200);
  const elapsed = Number(process.hrtime.bigint() - started) / 1e9;
  delay.disable();
  const rates = counts.map((count) => count / elapsed);
  running = false;
  await Promise.all(loops);
  await Promise.all(devices.map((device) => device.close()));
  return { idle, busy, rates, loopP99: delay.percentile(99) / 1e6, openingMax: opening.max / 1e6 };
}

function throughCpp(name, runSeconds) {
  const run = spawnSync(benchExe, ['--grab', name, String(runSeconds)], { encoding: 'utf8' });
  const figures = (run.stdout || '').trim().split(/\s+/).map(Number);
  if (run.status !== 0 || figures.length !== 3) throw new Error(`${benchExe} --grab failed: ${run.stdout}`);
  return figures;
}

(async () => {
  const streams = [
    { key: 'NodeBench0', name: 'Node bench 640x480 YUY2', formats: '640x480@30 YUY2', label: '640x480 YUY2' },
    { key: 'NodeBench1', name: 'Node bench 1920x1080 RGB24', formats: '1920x1080@30 RGB24', label: '1920x1080 RGB24' },
    { key: 'NodeBench2', name: 'Node bench 640x480 YUY2 60 fps', formats: '640x480@60 YUY2', label: '640x480 YUY2 paced 60 fps', paced: true },
  ];
  const quartet = [0, 1, 2, 3].map((k) => ({
    key: `NodeBenchQuartet${k}`, name: `Node bench quartet ${k}`, formats: '640x480@30 YUY2', tag: 0x10 + k }));
  const devices = new VirtualDevices([...streams.map((s, k) => ({
    key: s.key, name: s.name, formats: s.formats, tag: k + 1, dwords: s.paced ? {} : { Unthrottled: 1 },
  })), ...quartet]);
  try {
    console.log(`\nFrames to JavaScript (Node package) against grabFrame from C++, ${repetitions} alternating ` +
      `repetitions of at least ${seconds} s and ${MINIMUM_FRAMES} frames in all; Node's p50/p99 over every frame ` +
      'of its runs, C++ the median of its runs\' figures');
    console.log('stream                        variant        frames/s    p50 us    p99 us   frames   frames/s ratio');
    const perRun = Math.ceil(MINIMUM_FRAMES / repetitions);
    for (const s of streams) {
      const js = [];
      const reused = [];
      const cpp = [];
      for (let r = 0; r < repetitions; ++r) {
        js.push(await throughPackage(s.name, false, perRun));
        reused.push(await throughPackage(s.name, true, perRun));
        await fenwyr.shutdown();  // the C++ host opens the device next
        cpp.push(throughCpp(s.name, Math.max(seconds, Math.round(js[r].elapsed))));
      }
      const pooled = (runs) => {
        const all = runs.flatMap((run) => run.latencies);
        return [median(runs.map((run) => run.rate)), percentile(all, 0.5), percentile(all, 0.99), all.length];
      };
      const row = (variant, [rate, p50, p99, frames], ratio) => console.log(
        `${s.label.padEnd(29)} ${variant.padEnd(10)} ${rate.toFixed(2).padStart(12)}` +
        ` ${p50.toFixed(1).padStart(9)} ${p99.toFixed(1).padStart(9)} ${String(frames).padStart(8)}` +
        (ratio ? `   ${ratio}` : ''));
      const cppRate = median(cpp.map((f) => f[0]));
      const ratio = ([rate]) => `${(rate / cppRate).toFixed(3)} of C++`;
      row('Node', pooled(js), ratio(pooled(js)));
      row('Node reuse', pooled(reused), ratio(pooled(reused)));
      row('C++', [cppRate, median(cpp.map((f) => f[1])), median(cpp.map((f) => f[2])), '']);
    }
    await fenwyr.shutdown();
    const four = await fourDevicesWithPoolWork(quartet.map((q) => q.name));
    const ms = (times, p) => percentile(times, p).toFixed(2);
    console.log('\nFour 640x480 30 fps devices through frames({ reuse: true }) while the main thread runs pool work ' +
      '(crypto.pbkdf2 then fs.promises.readFile, 200 times)');
    console.log(`frames/s per device: ${four.rates.map((rate) => rate.toFixed(1)).join(', ')} (goal: each at 30)`);
    console.log(`pool work p50 ${ms(four.busy, 0.5)} ms, p99 ${ms(four.busy, 0.99)} ms; idle p50 ${ms(four.idle, 0.5)} ms, ` +
      `p99 ${ms(four.idle, 0.99)} ms: p50 ${(percentile(four.busy, 0.5) / percentile(four.idle, 0.5)).toFixed(2)}x idle ` +
      '(goal <= 1.5)');
    console.log(`event loop delay p99 ${four.loopP99.toFixed(2)} ms (goal < 5); its longest while the four devices ` +
      `opened and started ${four.openingMax.toFixed(1)} ms`);
  } finally {
    await fenwyr.shutdown();
    devices.dispose();
  }
})().catch((error) => {
  console.log(`benchmark failed: ${error.stack}`);
  process.exitCode = 1;
});
