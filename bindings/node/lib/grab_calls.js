'use strict';
// One device's waits for frames, on its own thread: grabFrame blocks here. Each grab lends a
// buffer (transferred, not copied); the answer gives it back with the frame in it.
const native = require('./native');

module.exports = ({ device }) => {
  const { grabFrame } = native.fenwyr();
  return {
    grab(buffer, timeoutMs) {
      const info = new ArrayBuffer(native.FRAME_INFO_SIZE);
      const hr = grabFrame(device, Buffer.from(buffer), buffer.byteLength, Buffer.from(info), timeoutMs);
      return { hr, buffer, info };
    },
  };
};
