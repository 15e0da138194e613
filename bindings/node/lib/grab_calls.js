'use strict';
// One device's waits for frames, on its own thread: grabFrame blocks here. Each grab lends a
// buffer (transferred, not copied); the answer gives it back with the frame in it.
const native = require('./native');

// The longest single native wait: an abort is seen between waits, so it frees this thread soon.
const SLICE_MS = 100;
// `aborts` (shared with the main thread): grabs aborted there, each at its number modulo RING,
// and at RING a non-zero value once every wait is to stop (the device is closing).
const RING = 16;

module.exports = ({ device, aborts }) => {
  const { grabFrame, grabStill } = native.fenwyr();
  const aborted = new BigInt64Array(aborts);
  const stopped = (ticket) =>
    Atomics.load(aborted, RING) !== 0n || Atomics.load(aborted, ticket % RING) === BigInt(ticket);
  const ERROR_TIMEOUT = 0x800705b4 | 0;
  // One wait of `take` (grabFrame or grabStill) in slices, as long as timeoutMs or until aborted.
  const waitWith = (take) => (buffer, timeoutMs, ticket) => {
    const info = new ArrayBuffer(native.FRAME_INFO_SIZE);
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const left = Math.max(0, deadline - Date.now());
      const hr = take(device, Buffer.from(buffer), buffer.byteLength, Buffer.from(info), Math.min(left, SLICE_MS));
      if (hr !== ERROR_TIMEOUT || left <= SLICE_MS || stopped(ticket)) return { hr, buffer, info };
    }
  };
  return {
    grab: waitWith(grabFrame),
    // A still that a takeStill on the fenwyr thread triggered (or the device's button).
    still: waitWith(grabStill),

    // Answered once the grabs asked before it are.
    idle() {},
  };
};

module.exports.RING = RING;
