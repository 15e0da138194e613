'use strict';
// What an abort or a bad argument leaves behind: the grab thread free at once, no call left waiting.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const { once } = require('events');
const threads = require('worker_threads');

// The package's threads as they start, and what happens to them in order (before the package takes Worker).
const started = [];
const log = [];
threads.Worker = class extends threads.Worker {
  constructor(file, options) {
    super(file, options);
    this.module = require('path').basename(options?.workerData?.module ?? '');
    started.push(this);
    log.push(`${this.module} started`);
    this.once('exit', () => log.push(`${this.module} ended`));
  }

  postMessage(message, transfer) {
    log.push(`${this.module} ${message?.name}`);
    return super.postMessage(message, transfer);
  }
};
const newest = (module) => started.findLast((worker) => worker.module === module);
const { fenwyr, setLibraryDirectory } = require('..');
const { VirtualDevices, within } = require('./support');

// Streams that hang (after their first frame, or from the start): a grab waits its whole time-out.
const devices = new VirtualDevices([
  { key: 'NodeCallsA', name: 'Node Calls A', formats: '160x120@30 YUY2', tag: 0x2a, dwords: { StallAfter: 1 } },
  { key: 'NodeCallsB', name: 'Node Calls B', formats: '160x120@30 YUY2', tag: 0x2b, dwords: { Frozen: 1 } },
]);
test.after(async () => {
  await fenwyr.shutdown();
  devices.dispose();
});

test('an aborted grab frees the grab thread at once; an abort during the output step rejects', async () => {
  const d = await fenwyr.open('Node Calls A');
  await d.start();
  await d.grab(2000);
  const controller = new AbortController();
  const waiting = d.grab({ timeoutMs: 5000, signal: controller.signal });
  await new Promise((resolve) => setTimeout(resolve, 300));
  controller.abort();
  await assert.rejects(waiting, { name: 'AbortError' });
  assert.strictEqual(await within(d.grab(0), 1000, 'the grab after the abort'), null);
  // Aborted while output() is asked: the wait never starts.
  const during = new AbortController();
  const grab = d.grab({ timeoutMs: 5000, output: 'rgb', signal: during.signal });
  during.abort(new Error('enough'));
  await assert.rejects(within(grab, 1000, 'the grab aborted during output()'), { message: 'enough' });
  await d.close();
});

test('an argument that cannot be sent to the thread rejects and leaves nothing waiting', () => {
  const script = `const { fenwyr } = require(${JSON.stringify(require.resolve('..'))});
    const { CallThread } = require(${JSON.stringify(require.resolve('../lib/call_thread'))});
    fenwyr.open('Node Calls A').then((d) => d.control(Symbol('x'))).catch((e) => console.log('rejected', e.code));
    // Past the package's checks: a value postMessage cannot clone.
    new CallThread('grab_calls.js', { options: { device: 0, aborts: new SharedArrayBuffer(8) } })
      .call('grab', () => {}).catch((e) => console.log('not sent', e.name));`;
  const child = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 30000 });
  assert.strictEqual(child.status, 0, `the process did not exit (${child.signal}): ${child.stderr}`);
  assert.deepStrictEqual(child.stdout.trim().split(/\r?\n/).sort(), ['not sent DataCloneError', 'rejected E_INVALIDARG']);
});

test('shutdown() ends the grab threads before the library', async () => {
  const d = await fenwyr.open('Node Calls B');
  await d.start();
  const waiting = d.grab(5000).catch((error) => error);  // a frozen stream: a native wait in progress
  await new Promise((resolve) => setTimeout(resolve, 300));
  log.length = 0;
  await fenwyr.shutdown();
  assert.deepStrictEqual(log.filter((e) => /ended|shutdown/.test(e)).slice(0, 2),
    ['grab_calls.js ended', 'fenwyr_calls.js shutdown']);
  assert.strictEqual((await waiting).code, 'DEVICE_CLOSED');
});

test('a call during an unawaited shutdown() waits for it; a second init thread is refused', async () => {
  await fenwyr.devices();
  log.length = 0;
  const shutdown = fenwyr.shutdown();
  await fenwyr.devices();
  assert.deepStrictEqual(log.slice(0, 4),
    ['fenwyr_calls.js shutdown', 'fenwyr_calls.js ended', 'fenwyr_calls.js started', 'fenwyr_calls.js devices']);
  await shutdown;
  // A worker thread with the package of its own, while this thread's copy holds the library.
  const worker = new threads.Worker(`const { fenwyr } = require(${JSON.stringify(require.resolve('..'))});
    fenwyr.devices().then(() => 'answered', (error) => error.code)
      .then((answer) => require('worker_threads').parentPort.postMessage(answer));`, { eval: true });
  assert.deepStrictEqual(await once(worker, 'message'), ['LIBRARY_IN_USE']);
  // The folder of the DLLs is settled once a thread loaded them.
  assert.throws(() => setLibraryDirectory(__dirname), /before the first call/);
});

test('a fenwyr thread that dies fails every call with a code until shutdown()', async () => {
  const d = await fenwyr.open('Node Calls A');
  const failed = new Promise((resolve) => d.once('error', resolve));
  await newest('fenwyr_calls.js').terminate();
  assert.strictEqual((await within(failed, 1000, 'the device\'s error')).code, 'LIBRARY_FAILED');
  await assert.rejects(d.formats(), { code: 'LIBRARY_FAILED' });
  await assert.rejects(fenwyr.devices(), { code: 'LIBRARY_FAILED' });
  assert.throws(() => fenwyr.devicesSync(), { code: 'LIBRARY_FAILED' });
  await fenwyr.shutdown();
  assert.ok((await fenwyr.devices()).some((device) => device.name === 'Node Calls A'));
});

test('a *Sync call whose thread ends under it throws a code instead of waiting for ever', () => {
  const script = `const { CallThread } = require(${JSON.stringify(require.resolve('../lib/call_thread'))});
    try { new CallThread('../test/exiting_calls.js').callSync('exit'); } catch (error) { console.log(error.code); }`;
  const child = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 20000 });
  assert.deepStrictEqual([child.status, child.stdout.trim()], [0, 'LIBRARY_FAILED'], child.stderr);
});
