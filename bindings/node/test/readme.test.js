'use strict';
// Every JavaScript example of the README, run as written, each a script of its own (an ES module
// in the package, so that 'camera-libraries' names the package itself).
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { VirtualDevices } = require('./support');

// A card with a still pin, for the example of stills and inputs.
const devices = new VirtualDevices([{ key: 'NodeReadme', name: 'USB Camera', formats: '320x240@30 YUY2', tag: 0x77,
  strings: { StillFormats: '320x240@0 YUY2;640x480@0 YUY2' }, dwords: { CaptureCard: 1 } }]);
test.after(() => devices.dispose());

const readme = fs.readFileSync(path.join(__dirname, '..', 'README.md'), 'utf8');
const examples = [...readme.matchAll(/```js\n(.*?)```/gs)].map((match) => match[1]);

test('the README\'s examples run as written', (t) => {
  assert.strictEqual(examples.length, 6);
  for (const [k, code] of examples.entries()) {
    const script = path.join(__dirname, `readme-example-${process.pid}-${k}.mjs`);
    const output = path.join(os.tmpdir(), `readme-example-${process.pid}-${k}.txt`);
    fs.writeFileSync(script, code);
    // Under Wine, node.exe writes to a file, not to a pipe.
    const fd = fs.openSync(output, 'w');
    try {
      const run = spawnSync(process.execPath, [script], { stdio: ['ignore', fd, fd], timeout: 60000 });
      const printed = fs.readFileSync(output, 'utf8');
      t.diagnostic(`example ${k + 1}: ${printed.trim().split(/\r?\n/).at(-1)}`);
      assert.strictEqual(run.status, 0, `example ${k + 1} (${run.signal ?? 'exit'}):\n${code}\n${printed}`);
      assert.doesNotMatch(printed, /Error|\bfalse\b/, `example ${k + 1}:\n${printed}`);
    } finally {
      fs.closeSync(fd);
      fs.rmSync(script, { force: true });
      fs.rmSync(output, { force: true });
    }
  }
});
