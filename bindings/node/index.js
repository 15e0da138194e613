'use strict';
const native = require('./lib/native');
const errors = require('./lib/errors');

module.exports = {
  fenwyr: require('./lib/fenwyr'),
  tarvik: require('./lib/tarvik'),
  CameraError: errors.CameraError,
  hresultName: errors.hresultName,
  setLibraryDirectory: native.setLibraryDirectory,
};
