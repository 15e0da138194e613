'use strict';

// Results the libraries return, by name, so an error says what happened and not only a number.
const names = new Map([
  [0x80004001, 'E_NOTIMPL'],
  [0x80004002, 'E_NOINTERFACE'],
  [0x80004003, 'E_POINTER'],
  [0x80004005, 'E_FAIL'],
  [0x8000ffff, 'E_UNEXPECTED'],
  [0x8007000e, 'E_OUTOFMEMORY'],
  [0x80070057, 'E_INVALIDARG'],
  [0x8007007a, 'ERROR_INSUFFICIENT_BUFFER'],
  [0x80070490, 'E_PROP_ID_UNSUPPORTED'],
  [0x800705b4, 'ERROR_TIMEOUT'],
  [0x8007048f, 'ERROR_DEVICE_NOT_CONNECTED'],
  [0x80040200, 'VFW_E_INVALIDMEDIATYPE'],
  [0x80040209, 'VFW_E_NOT_CONNECTED'],
  [0x80040218, 'VFW_E_CANNOT_RENDER'],
  [0x80040224, 'VFW_E_NOT_STOPPED'],
  [0x80040226, 'VFW_E_NOT_RUNNING'],
  [0x80040227, 'VFW_E_WRONG_STATE'],
]);

const codes = Object.fromEntries([...names].map(([code, name]) => [name, code]));

function hresultName(hresult) {
  return names.get(hresult >>> 0) || 'HRESULT 0x' + (hresult >>> 0).toString(16).toUpperCase().padStart(8, '0');
}

// An Error with the library's result: `hresult` (unsigned) and `code` (its symbolic name).
class CameraError extends Error {
  constructor(message, hresult) {
    const name = hresult === undefined ? undefined : hresultName(hresult);
    super(name ? `${message}: ${name}` : message);
    this.name = 'CameraError';
    if (hresult !== undefined) {
      this.hresult = hresult >>> 0;
      this.code = name;
    }
  }
}

function failed(hresult) {
  return (hresult | 0) < 0;
}

// Throws for a failing HRESULT; returns the result otherwise.
function check(hresult, what) {
  if (failed(hresult)) throw new CameraError(what, hresult);
  return hresult;
}

// What a call on a closed device or camera throws: code DEVICE_CLOSED.
function closedError(what) {
  return Object.assign(new CameraError(`${what} is closed`), { code: 'DEVICE_CLOSED' });
}

// An error as a message between threads, and back: the class, message, hresult and code survive.
function errorToMessage(error) {
  return { name: error?.name, message: String(error?.message ?? error), hresult: error?.hresult, code: error?.code };
}

function errorFromMessage({ name, message, hresult, code }) {
  const Kind = { CameraError, TypeError, RangeError }[name] || Error;
  const error = new Kind(message);
  if (hresult !== undefined) error.hresult = hresult;
  if (code !== undefined) error.code = code;
  return error;
}

module.exports = { CameraError, codes, hresultName, failed, check, closedError, errorToMessage, errorFromMessage };
