'use strict';
// The main thread's side of a thread of the package's own (lib/call_worker.js): calls are sent
// to it and their results come back as promises, so nothing that can block (a device's graph, a
// wait for a frame, a camera's capture) runs on the event loop or in Node's shared thread pool.
// callSync blocks the caller until the answer is there, for the *Sync functions.
const path = require('path');
const { Worker, MessageChannel, receiveMessageOnPort } = require('worker_threads');
const native = require('./native');
const { CameraError, errorFromMessage } = require('./errors');

const buffersIn = (args) => args.flatMap((arg) => (arg instanceof ArrayBuffer ? [arg] : []));

// The longest a *Sync call blocks its thread: a thread that never answers must not hang the host.
const SYNC_LIMIT_MS = 60000;
// The shared flag's cells: answers given to callSync, and 1 once the thread has ended.
const ANSWERS = 0;
const ENDED = 1;

// What every call of a thread that ended on its own gets: code LIBRARY_FAILED.
function failedError(what, cause) {
  return Object.assign(new CameraError(`the package's ${what} thread ended`, undefined, { cause }),
    { code: 'LIBRARY_FAILED' });
}

class CallThread {
  // `module`: the calls' file in lib/; `onEvent` takes what the thread reports on its own;
  // `endedError()` is what calls still waiting get when the thread is closed; `onFailure(error)`
  // hears that it ended without being closed (calls then get that LIBRARY_FAILED error).
  constructor(module, { options = {}, onEvent = () => {}, endedError = () => new Error('the thread ended'),
    onFailure = () => {} } = {}) {
    const { port1, port2 } = new MessageChannel();
    this._flag = new Int32Array(new SharedArrayBuffer(8));
    this._syncPort = port1;
    // Read only by callSync: it must not keep the process alive.
    this._syncPort.unref();
    this._endedError = endedError;
    this._failure = null;
    this._pending = new Map();
    this._nextId = 1;
    this._worker = new Worker(path.join(__dirname, 'call_worker.js'), {
      workerData: { module: path.join(__dirname, module), options, directory: native.libraryDirectory(),
        flag: this._flag.buffer, syncPort: port2 },
      transferList: [port2],
    });
    this._what = path.basename(module, '.js').replace(/_calls$/, '');
    const ended = (cause) => {
      if (!this._worker) return;
      this._failure = failedError(this._what, cause);
      this._end(this._failure);
      onFailure(this._failure);
    };
    this._worker.on('message', (message) => {
      if (message.event) onEvent(message.event);
      else this._settle(message);
    });
    this._worker.on('error', ended);
    this._worker.on('exit', (code) => ended(new Error(`the thread exited with code ${code}`)));
    // Only a call waiting for its answer keeps the process alive (after the listeners: adding
    // one refs the thread's port again).
    this._worker.unref();
  }

  // The error for a call that cannot be made: the thread failed, or was closed.
  _gone() {
    return this._failure ?? this._endedError();
  }

  call(name, ...args) {
    return this.callFrom(callSite(this.call), name, ...args);
  }

  // As call; an error it gets has the stack of `site` (see callSite), where the host called.
  callFrom(site, name, ...args) {
    if (!this._worker) return Promise.reject(this._gone());
    return new Promise((resolve, reject) => {
      const id = this._nextId++;
      if (this._pending.size === 0) this._worker.ref();
      this._pending.set(id, { resolve, reject, site });
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

  // As call, blocking this thread until the answer is there (at most SYNC_LIMIT_MS).
  callSync(name, ...args) {
    if (!this._worker) throw this._gone();
    const id = -this._nextId++;
    this._worker.postMessage({ id, name, args, sync: true }, buffersIn(args));
    const deadline = Date.now() + SYNC_LIMIT_MS;
    for (;;) {
      const answers = Atomics.load(this._flag, ANSWERS);
      // Answers to calls that gave up before this one are passed over.
      for (let m = receiveMessageOnPort(this._syncPort); m; m = receiveMessageOnPort(this._syncPort)) {
        if (m.message.id !== id) continue;
        const { error, result } = m.message;
        if (error) throw errorFromMessage(error);
        return result;
      }
      // Ended: the thread's own 'exit' says so here, where no event can be heard.
      if (Atomics.load(this._flag, ENDED)) throw this._failure ?? failedError(this._what, new Error(`it ended in ${name}`));
      const left = deadline - Date.now();
      if (left <= 0)
        throw Object.assign(new CameraError(`${name} had no answer within ${SYNC_LIMIT_MS} ms`), { code: 'LIBRARY_FAILED' });
      Atomics.wait(this._flag, ANSWERS, answers, left);
    }
  }

  _settle({ id, error, result }) {
    const waiting = this._pending.get(id);
    if (!waiting) return;
    this._pending.delete(id);
    if (this._pending.size === 0 && this._worker) this._worker.unref();
    if (error) waiting.reject(errorFromMessage(error, waiting.site));
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

// Where a call was made (the frames above `fn`): an error the call gets is thrown from there, not
// from a message handler.
function callSite(fn) {
  const site = {};
  Error.captureStackTrace(site, fn);
  return site;
}

// `promise`, or a signal's reason as soon as one is aborted (what was asked goes on unheard).
function abortable(promise, ...signals) {
  signals = signals.filter(Boolean);
  if (signals.length === 0) return promise;
  return new Promise((resolve, reject) => {
    const aborted = signals.find((signal) => signal.aborted);
    if (aborted) {
      reject(aborted.reason);
      return;
    }
    const listeners = signals.map((signal) => [signal, () => reject(signal.reason)]);
    const done = () => listeners.forEach(([signal, onAbort]) => signal.removeEventListener('abort', onAbort));
    listeners.forEach(([signal, onAbort]) => signal.addEventListener('abort', onAbort, { once: true }));
    promise.then((value) => { done(); resolve(value); }, (error) => { done(); reject(error); });
  });
}

module.exports = { CallThread, abortable, callSite };
