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

// An Error with the library's result: `hresult` (unsigned) and `code`, its symbolic name
// (UNKNOWN_HRESULT for one without a name); `options.cause` as Error's.
class CameraError extends Error {
  constructor(message, hresult, options) {
    const name = hresult === undefined ? undefined : hresultName(hresult);
    super(name ? `${message}: ${name}` : message, options);
    this.name = 'CameraError';
    if (hresult !== undefined) {
      this.hresult = hresult >>> 0;
      this.code = names.has(this.hresult) ? name : 'UNKNOWN_HRESULT';
    }
  }
}

// A CameraError with a code of the package's own (DEVICE_CLOSED, DEVICE_NOT_FOUND, ...).
function codedError(code, message, hresult, cause) {
  return Object.assign(new CameraError(message, hresult, cause === undefined ? undefined : { cause }), { code });
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
  return codedError('DEVICE_CLOSED', `${what} is closed`);
}

// An error as a message between threads, and back: the class, message, hresult, code and cause
// survive. `site` (an object with a stack) is where the call was made: the error's stack is that one.
function errorToMessage(error) {
  const cause = error?.cause instanceof Error ? errorToMessage(error.cause) : undefined;
  return { name: error?.name, message: String(error?.message ?? error), hresult: error?.hresult, code: error?.code, cause };
}

function errorFromMessage({ name, message, hresult, code, cause }, site) {
  const Kind = { CameraError, TypeError, RangeError }[name] || Error;
  const error = new Kind(message, ...(Kind === CameraError ? [undefined] : []),
    ...(cause ? [{ cause: errorFromMessage(cause) }] : []));
  if (Kind === Error && name) error.name = name;
  if (hresult !== undefined) error.hresult = hresult;
  if (code !== undefined) error.code = code;
  if (site?.stack) error.stack = `${error.name}: ${error.message}${site.stack.slice(site.stack.indexOf('\n'))}`;
  return error;
}

module.exports = {
  CameraError, codes, hresultName, failed, check, closedError, codedError, errorToMessage, errorFromMessage,
};
