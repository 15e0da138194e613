// The package as an ES module, by its own name (the exports map): every name the README uses.
import test from 'node:test';
import assert from 'node:assert';
import pkg, { fenwyr, tarvik, CameraError, hresultName, setLibraryDirectory } from 'camera-libraries';

test('the ES module names the same objects as require()', () => {
  assert.strictEqual(typeof fenwyr.open, 'function');
  assert.strictEqual(typeof fenwyr.devices, 'function');
  assert.strictEqual(typeof tarvik.Camera, 'function');
  assert.strictEqual(typeof setLibraryDirectory, 'function');
  assert.strictEqual(hresultName(0x80070057), 'E_INVALIDARG');
  assert.ok(new CameraError('x', 0x80070057) instanceof Error);
  // A result without a name keeps its hex in the message, never as the code.
  assert.deepStrictEqual([new CameraError('x', 0x80040154).code, new CameraError('x', 0x80040154).message],
    ['UNKNOWN_HRESULT', 'x: HRESULT 0x80040154']);
  assert.strictEqual(pkg.fenwyr, fenwyr);
});
