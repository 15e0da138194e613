'use strict';
// Frames reaching JavaScript through the Node package (frames() on grabFrame, off the main
// thread; each frame in its own Buffer, or with reuse in one) against the same virtual device polled with grabFrame from C++ (the delivery
// benchmark's --grab mode), alternating, in the same run: the cost of the FFI as a ratio.
// Usage: node node_delivery.js <bench exe (Windows path)> [repetitions]
const { spawnSync } = require('child_process');
const koffi = require('koffi');
const { fenwyr } = require('../bindings/node');
const { VirtualDevices } = require('../bindings/node/test/support');

const benchExe = process.argv[2];
const repetitions = Math.max(3, Number(process.argv[3] || 5));
const seconds = 1;

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

// Frames/s and the p50/p99 delay from the device's stamp (bytes 8-15) to JavaScript holding it.
async function throughPackage(name, reuse) {
  const device = fenwyr.open(name);
  device.start();
  const latencies = [];
  let frames = 0;
  let recording = false;
  let started = 0;
  const loop = (async () => {
    for await (const frame of device.frames({ reuse })) {
      if (!recording) continue;
      latencies.push(((now() - Number(frame.data.readBigInt64LE(8))) * 1e6) / frequency[0]);
      ++frames;
    }
  })();
  await new Promise((resolve) => setTimeout(resolve, 200));
  recording = true;
  started = process.hrtime.bigint();
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  recording = false;
  const elapsed = Number(process.hrtime.bigint() - started) / 1e9;
  device.stop();
  await loop;
  device.close();
  return [frames / elapsed, percentile(latencies, 0.5), percentile(latencies, 0.99)];
}

function throughCpp(name) {
  const run = spawnSync(benchExe, ['--grab', name, String(seconds)], { encoding: 'utf8' });
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
  const devices = new VirtualDevices(streams.map((s, k) => ({
    key: s.key, name: s.name, formats: s.formats, tag: k + 1, dwords: s.paced ? {} : { Unthrottled: 1 },
  })));
  try {
    console.log(`\nFrames to JavaScript (Node package) against grabFrame from C++, ${repetitions} alternating repetitions of ${seconds} s`);
    console.log('stream                        variant        frames/s    p50 us    p99 us   frames/s ratio');
    for (const s of streams) {
      const js = [];
      const reused = [];
      const cpp = [];
      for (let r = 0; r < repetitions; ++r) {
        js.push(await throughPackage(s.name, false));
        reused.push(await throughPackage(s.name, true));
        fenwyr.shutdown();  // the C++ host opens the device next
        cpp.push(throughCpp(s.name));
      }
      const row = (variant, runs, ratio) => console.log(
        `${s.label.padEnd(29)} ${variant.padEnd(10)} ${median(runs.map((f) => f[0])).toFixed(2).padStart(12)}` +
        ` ${median(runs.map((f) => f[1])).toFixed(1).padStart(9)} ${median(runs.map((f) => f[2])).toFixed(1).padStart(9)}` +
        (ratio ? `   ${ratio}` : ''));
      const ratio = (runs) => `${(median(runs.map((f) => f[0])) / median(cpp.map((f) => f[0]))).toFixed(3)} of C++`;
      row('Node', js, ratio(js));
      row('Node reuse', reused, ratio(reused));
      row('C++', cpp);
    }
  } finally {
    fenwyr.shutdown();
    devices.dispose();
  }
})().catch((error) => {
  console.log(`benchmark failed: ${error.stack}`);
  process.exitCode = 1;
});
