'use strict';
// A thread of the package's own: runs the calls of one module (workerData.module) one at a time,
// in the order they were asked, and answers each. A caller blocked in callSync is answered
// through its own port and woken through the shared flag.
const { parentPort, workerData } = require('worker_threads');
const native = require('./native');
const { errorToMessage } = require('./errors');

// [answers given to callSync, 1 once this thread ends]
const flag = new Int32Array(workerData.flag);
const wake = () => {
  Atomics.add(flag, 0, 1);
  Atomics.notify(flag, 0);
};
process.on('exit', () => {
  Atomics.store(flag, 1, 1);
  wake();
});
// A library that cannot be loaded is every call's answer: the thread stays, so that a caller
// blocked in callSync is answered too.
let calls = null;
let startError = null;
try {
  native.setLibraryDirectory(workerData.directory);
  calls = require(workerData.module)(workerData.options, (event) => parentPort.postMessage({ event }));
} catch (error) {
  startError = error;
}

// ArrayBuffers at the top of a value travel (transferred) instead of being copied.
const buffersIn = (value) =>
  value && typeof value === 'object' ? Object.values(value).filter((v) => v instanceof ArrayBuffer) : [];

parentPort.on('message', ({ id, name, args, sync }) => {
  let answer;
  try {
    if (startError) throw startError;
    answer = { id, result: calls[name](...args) };
  } catch (error) {
    answer = { id, error: errorToMessage(error) };
  }
  const transfer = buffersIn(answer.result);
  if (!sync) {
    parentPort.postMessage(answer, transfer);
    return;
  }
  workerData.syncPort.postMessage(answer, transfer);
  wake();
});
