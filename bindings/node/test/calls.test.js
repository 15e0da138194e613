'use strict';
// What an abort or a bad argument leaves behind: the grab thread free at once, no call left waiting.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const { fenwyr } = require('..');
const { VirtualDevices, within } = require('./support');

// A stream that hangs after its first frame: a grab waits its whole time-out.
const devices = new VirtualDevices([
  { key: 'NodeCallsA', name: 'Node Calls A', formats: '160x120@30 YUY2', tag: 0x2a, dwords: { StallAfter: 1 } },
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
