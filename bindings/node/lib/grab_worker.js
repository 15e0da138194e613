'use strict';
// One device's waits for frames, on a thread of the package's own: grabFrame blocks here, never
// in Node's shared thread pool (fs, dns, crypto and zlib keep all of it). Each request lends a
// buffer (transferred, not copied); the answer gives it back with the frame in it.
const { parentPort, workerData } = require('worker_threads');
const native = require('./native');

native.setLibraryDirectory(workerData.directory);
const { grabFrame } = native.fenwyr();

parentPort.on('message', ({ buffer, timeoutMs }) => {
  const info = new ArrayBuffer(native.FRAME_INFO_SIZE);
  const hr = grabFrame(workerData.device, Buffer.from(buffer), buffer.byteLength, Buffer.from(info), timeoutMs);
  parentPort.postMessage({ hr, buffer, info }, [buffer, info]);
});
