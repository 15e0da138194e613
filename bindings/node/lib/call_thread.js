'use strict';
// The main thread's side of a thread of the package's own (lib/call_worker.js): calls are sent
// to it and their results come back as promises, so nothing that can block (a device's graph, a
// wait for a frame, a camera's capture) runs on the event loop or in Node's shared thread pool.
// callSync blocks the caller until the answer is there, for the *Sync functions.
const path = require('path');
const { Worker, MessageChannel, receiveMessageOnPort } = require('worker_threads');
const native = require('./native');
const { errorFromMessage } = require('./errors');

const buffersIn = (args) => args.flatMap((arg) => (arg instanceof ArrayBuffer ? [arg] : []));

class CallThread {
  // `module`: the calls' file in lib/; `onEvent` takes what the thread reports on its own;
  // `endedError()` is what calls still waiting get when the thread is closed.
  constructor(module, { options = {}, onEvent = () => {}, endedError = () => new Error('the thread ended') } = {}) {
    const { port1, port2 } = new MessageChannel();
    this._flag = new Int32Array(new SharedArrayBuffer(4));
    this._syncPort = port1;
    // Read only by callSync: it must not keep the process alive.
    this._syncPort.unref();
    this._endedError = endedError;
    this._pending = new Map();
    this._nextId = 1;
    this._worker = new Worker(path.join(__dirname, 'call_worker.js'), {
      workerData: { module: path.join(__dirname, module), options, directory: native.libraryDirectory(),
        flag: this._flag.buffer, syncPort: port2 },
      transferList: [port2],
    });
    this._worker.on('message', (message) => {
      if (message.event) onEvent(message.event);
      else this._settle(message);
    });
    this._worker.on('error', (error) => this._end(error));
    this._worker.on('exit', () => this._end(this._endedError()));
    // Only a call waiting for its answer keeps the process alive (after the listeners: adding
    // one refs the thread's port again).
    this._worker.unref();
  }

  call(name, ...args) {
    if (!this._worker) return Promise.reject(this._endedError());
    return new Promise((resolve, reject) => {
      const id = this._nextId++;
      if (this._pending.size === 0) this._worker.ref();
      this._pending.set(id, { resolve, reject });
      try {
        this._worker.postMessage({ id, name, args }, buffersIn(args));
      } catch (error) {
        // Not sent (an argument that cannot be cloned): nothing will answer it.
        this._pending.delete(id);
        if (this._pending.size === 0) this._worker.unref();
        reject(error);
      }
    });
  }

  // As call, blocking this thread until the answer is there.
  callSync(name, ...args) {
    if (!this._worker) throw this._endedError();
    Atomics.store(this._flag, 0, 0);
    this._worker.postMessage({ id: 0, name, args, sync: true }, buffersIn(args));
    Atomics.wait(this._flag, 0, 0);
    const { error, result } = receiveMessageOnPort(this._syncPort).message;
    if (error) throw errorFromMessage(error);
    return result;
  }

  _settle({ id, error, result }) {
    const waiting = this._pending.get(id);
    if (!waiting) return;
    this._pending.delete(id);
    if (this._pending.size === 0 && this._worker) this._worker.unref();
    if (error) waiting.reject(errorFromMessage(error));
    else waiting.resolve(result);
  }

  _end(error) {
    this._worker = null;
    for (const { reject } of this._pending.values()) reject(error);
    this._pending.clear();
    this._syncPort.close();
  }

  // Ends the thread; calls still waiting reject with endedError(). The call in progress there
  // finishes first (a thread is stopped between calls, never inside a native one).
  close() {
    const worker = this._worker;
    if (!worker) return Promise.resolve();
    this._end(this._endedError());
    return worker.terminate();
  }
}

// `promise`, or the signal's reason as soon as it is aborted (what was asked goes on unheard).
function abortable(promise, signal) {
  if (!signal) return promise;
  return new Promise((resolve, reject) => {
    const onAbort = () => reject(signal.reason);
    signal.addEventListener('abort', onAbort, { once: true });
    promise.then(
      (value) => { signal.removeEventListener('abort', onAbort); resolve(value); },
      (error) => { signal.removeEventListener('abort', onAbort); reject(error); });
  });
}

module.exports = { CallThread, abortable };
