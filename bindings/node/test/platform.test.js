// The package on a platform it does not run on (the build machine's own Node): it loads, so a
// project's Linux CI can install and import it, and each library says why it cannot start.
const test = require('node:test');
const assert = require('node:assert');
const { fenwyr, tarvik } = require('..');

const refused = { name: 'CameraError', code: 'UNSUPPORTED_PLATFORM', message: /Windows x64.*linux/ };

test('off Windows every library call fails with UNSUPPORTED_PLATFORM', async () => {
  await assert.rejects(fenwyr.devices(), refused);
  assert.throws(() => fenwyr.devicesSync(), refused);
  assert.throws(() => fenwyr.native, refused);
  await assert.rejects(tarvik.Camera.open(), refused);
  await fenwyr.shutdown();
});
