'use strict';
// The two DLLs' exports as koffi functions, loaded on first use.
const path = require('path');
const koffi = require('koffi');

const fs = require('fs');
const { codedError } = require('./errors');

// Where the DLLs are: a folder the host named, else the package's own bin folder (where the
// archive's copy of the package carries them, so that one installed under an application's
// node_modules has them), else beside the package, else the archive's bin folder.
let directory = process.env.CAMERA_LIBRARIES_DIR || null;
// Set once a thread of the package's own was given the folder (the DLLs load there, not here).
let settled = false;
const libraries = {};

function setLibraryDirectory(folder) {
  if (settled || libraries.fenwyr || libraries.tarvik)
    throw new Error('setLibraryDirectory must come before the first call into a library');
  directory = path.resolve(folder);
}

function libraryPath(file) {
  if (directory) return path.join(directory, file);
  const candidates = [path.join(__dirname, '..', 'bin', file), path.join(__dirname, '..', file),
    path.join(__dirname, '..', '..', '..', 'bin', file)];
  return candidates.find((candidate) => fs.existsSync(candidate)) ?? candidates[0];
}

// koffi's type names are global to the process: this copy of the package names its types on
// its own, so a second copy (or another koffi user's DeviceInfo) cannot collide with them.
const copies = Symbol.for('camera-libraries.copies');
const copy = `${require('worker_threads').threadId}_${(globalThis[copies] = (globalThis[copies] || 0) + 1)}`;
const TYPE_NAMES = ['DeviceInfo', 'ResolutionInfo', 'DeviceIdentity', 'FormatInfo', 'ControlInfo',
  'FrameArrivedCallback', 'FrameCallbackEx', 'DeviceEventCallback', 'AoiRect', 'AoiSize', 'AoiInfoRecord',
  'RangeRecord', 'CameraContext'];
const typeName = (name) => `cameraLibraries${copy}_${name}`;
// A C declaration with this copy's type names.
const declare = (text) => text.replace(new RegExp(`\\b(${TYPE_NAMES.join('|')})\\b`, 'g'), typeName);

// Record layouts, as the C headers give them.
const DeviceInfo = koffi.struct(typeName('DeviceInfo'), { index: 'int32_t', name: koffi.array('uint8_t', 128) });
const ResolutionInfo = koffi.struct(typeName('ResolutionInfo'), {
  index: 'int32_t', width: 'int32_t', height: 'int32_t', bitCount: 'int32_t',
  framesPerSecond: 'float', pixelFormat: 'int32_t',
});
const DeviceIdentity = koffi.struct(typeName('DeviceIdentity'), {
  index: 'int32_t', name: koffi.array('char', 256), path: koffi.array('char', 512),
});
const FormatInfo = koffi.struct(typeName('FormatInfo'), {
  index: 'int32_t', width: 'int32_t', height: 'int32_t', bitCount: 'int32_t', pixelFormat: 'int32_t',
  fourcc: 'uint32_t', defaultFps: 'double', minFps: 'double', maxFps: 'double',
});
const ControlInfo = koffi.struct(typeName('ControlInfo'), {
  min: 'int32_t', max: 'int32_t', step: 'int32_t', defaultValue: 'int32_t',
  capsFlags: 'int32_t', value: 'int32_t', flags: 'int32_t',
});
const FrameArrivedCallback = koffi.proto(declare('void FrameArrivedCallback(uint8_t *frame, int32_t length)'));
const FrameCallbackEx = koffi.proto(declare(
  'void FrameCallbackEx(const uint8_t *frame, const void *info, void *userData)'));
const DeviceEventCallback = koffi.proto(declare(
  'void DeviceEventCallback(int32_t device, int32_t event, int32_t detail, void *userData)'));

const AoiRect = koffi.struct(typeName('AoiRect'), { x: 'int32_t', y: 'int32_t', width: 'int32_t', height: 'int32_t' });
const AoiSize = koffi.struct(typeName('AoiSize'), { width: 'int32_t', height: 'int32_t' });
const AoiInfoRecord = koffi.struct(typeName('AoiInfoRecord'), {
  current: AoiRect, minimum: AoiSize, maximum: AoiSize, increment: AoiSize,
});
const RangeRecord = koffi.struct(typeName('RangeRecord'), { minimum: 'double', maximum: 'double', step: 'double' });
const CameraContext = koffi.pointer(typeName('CameraContext'), koffi.opaque());

const FRAME_INFO_SIZE = 64;
const STREAM_STATS_SIZE = 40;
const INPUT_INFO_SIZE = 24;

// The package installs anywhere (a project's Linux CI too) and refuses here, where it would run.
function checkPlatform(platform = process.platform, arch = process.arch) {
  if (platform === 'win32' && arch === 'x64') return;
  throw codedError('UNSUPPORTED_PLATFORM', `camera-libraries runs on Windows x64 only, not on ${platform} ${arch}`);
}

// A DLL that cannot be loaded (missing, or a DLL it needs missing, as tarvik.dll's uEye_api_64.dll).
function load(file) {
  const at = libraryPath(file);
  try {
    return koffi.load(at);
  } catch (error) {
    throw codedError('LIBRARY_NOT_FOUND', `${file} cannot be loaded from ${path.dirname(at)}`, undefined, error);
  }
}

function loadFenwyr() {
  checkPlatform();
  const lib = load('fenwyr.dll');
  const ole32 = koffi.load('ole32.dll');
  return {
    init: lib.func(declare('void init(void)')),
    uninit: lib.func(declare('void uninit(void)')),
    listDevices: lib.func(declare('void *listDevices(void)')),
    openDevice: lib.func(declare('int32_t openDevice(int32_t device)')),
    startCapture: lib.func(declare('int32_t startCapture(int32_t device)')),
    stopCapture: lib.func(declare('int32_t stopCapture(int32_t device)')),
    setFrameArrivedCallback: lib.func(declare(
      'void setFrameArrivedCallback(int32_t device, FrameArrivedCallback *callback)')),
    getResolutions: lib.func(declare('void *getResolutions(int32_t device)')),
    getResolution: lib.func(declare('void *getResolution(int32_t device)')),
    setResolution: lib.func(declare('void setResolution(int32_t device, int32_t capability)')),
    showFilterProperties: lib.func(declare('int32_t showFilterProperties(int32_t device)')),
    showCapturePinProperties: lib.func(declare('int32_t showCapturePinProperties(int32_t device)')),
    setFrameCallbackEx: lib.func(declare(
      'int32_t setFrameCallbackEx(int32_t device, FrameCallbackEx *callback, void *userData)')),
    // buffer and info are Buffers: the call writes into their memory.
    grabFrame: lib.func(declare(
      'int32_t grabFrame(int32_t device, void *buffer, int32_t capacity, void *info, int32_t timeoutMs)')),
    getDeviceIdentity: lib.func(declare('int32_t getDeviceIdentity(int32_t device, _Out_ DeviceIdentity *identity)')),
    findDevice: lib.func(declare('int32_t findDevice(const char *pathOrName)')),
    refreshDevices: lib.func(declare('int32_t refreshDevices(void)')),
    setDeviceEventCallback: lib.func(declare(
      'void setDeviceEventCallback(DeviceEventCallback *callback, void *userData)')),
    getDeviceState: lib.func(declare('int32_t getDeviceState(int32_t device)')),
    getDeviceError: lib.func(declare('int32_t getDeviceError(int32_t device)')),
    // formats is a Buffer of capacity records, decoded with koffi.decode.
    getFormats: lib.func(declare('int32_t getFormats(int32_t device, void *formats, int32_t capacity)')),
    setFormat: lib.func(declare('int32_t setFormat(int32_t device, int32_t capability, double fps)')),
    chooseFormat: lib.func(declare(
      'int32_t chooseFormat(int32_t device, int32_t width, int32_t height, double fps, int32_t fourcc)')),
    getControl: lib.func(declare('int32_t getControl(int32_t device, int32_t control, _Out_ ControlInfo *info)')),
    setControl: lib.func(declare(
      'int32_t setControl(int32_t device, int32_t control, int32_t value, int32_t flags)')),
    setOutputFormat: lib.func(declare('int32_t setOutputFormat(int32_t device, int32_t output)')),
    getOutputFormat: lib.func(declare('int32_t getOutputFormat(int32_t device)')),
    setSupervision: lib.func(declare('int32_t setSupervision(int32_t device, int32_t stallMs, int32_t flags)')),
    recoverDevice: lib.func(declare('int32_t recoverDevice(int32_t device)')),
    // stats is a Buffer of STREAM_STATS_SIZE bytes, read as FrameInfo's 64-bit fields are.
    getStreamStats: lib.func(declare('int32_t getStreamStats(int32_t device, void *stats)')),
    getStillFormats: lib.func(declare('int32_t getStillFormats(int32_t device, void *formats, int32_t capacity)')),
    setStillFormat: lib.func(declare('int32_t setStillFormat(int32_t device, int32_t capability)')),
    // buffer and info as grabFrame's.
    takeStill: lib.func(declare(
      'int32_t takeStill(int32_t device, void *buffer, int32_t capacity, void *info, int32_t timeoutMs)')),
    grabStill: lib.func(declare(
      'int32_t grabStill(int32_t device, void *buffer, int32_t capacity, void *info, int32_t timeoutMs)')),
    // inputs is a Buffer of capacity INPUT_INFO_SIZE records.
    getInputs: lib.func(declare('int32_t getInputs(int32_t device, void *inputs, int32_t capacity)')),
    selectInput: lib.func(declare('int32_t selectInput(int32_t device, int32_t input)')),
    // available, current and locked: a Buffer of 4 bytes each.
    getVideoStandard: lib.func(declare(
      'int32_t getVideoStandard(int32_t device, void *available, void *current, void *locked)')),
    setVideoStandard: lib.func(declare('int32_t setVideoStandard(int32_t device, int32_t standard)')),
    CoTaskMemFree: ole32.func('void __stdcall CoTaskMemFree(void *block)'),
  };
}

// The process-wide claim of fenwyr's init thread: a named mutex of this process, owned by that thread.
function loadClaim() {
  const kernel32 = koffi.load('kernel32.dll');
  return {
    CreateMutexW: kernel32.func('void * __stdcall CreateMutexW(void *attributes, int initialOwner, const char16_t *name)'),
    WaitForSingleObject: kernel32.func('uint32_t __stdcall WaitForSingleObject(void *handle, uint32_t ms)'),
    ReleaseMutex: kernel32.func('int __stdcall ReleaseMutex(void *handle)'),
    CloseHandle: kernel32.func('int __stdcall CloseHandle(void *handle)'),
  };
}

function loadTarvik() {
  checkPlatform();
  const lib = load('tarvik.dll');
  return {
    findAvailableCamera: lib.func(declare('CameraContext findAvailableCamera(void)')),
    closeCamera: lib.func(declare('int32_t closeCamera(CameraContext ctx)')),
    getCameraId: lib.func(declare('int32_t getCameraId(CameraContext ctx)')),
    getCameraName: lib.func(declare('void getCameraName(CameraContext ctx, void *name)')),
    setAoi: lib.func(declare('void setAoi(CameraContext ctx, const AoiRect *aoi)')),
    aoiInfo: lib.func(declare('void aoiInfo(CameraContext ctx, _Inout_ AoiInfoRecord *info)')),
    startCapture: lib.func(declare('int32_t startCapture(CameraContext ctx)')),
    stopCurrentCapture: lib.func(declare('int32_t stopCurrentCapture(CameraContext ctx)')),
    captureFrame: lib.func(declare('int32_t captureFrame(CameraContext ctx, void *destination)')),
    captureFrameChecked: lib.func(declare(
      'int32_t captureFrameChecked(CameraContext ctx, void *destination, int32_t capacity)')),
    getPixelClockRange: lib.func(declare('void getPixelClockRange(CameraContext ctx, void *clocks)')),
    setPixelClock: lib.func(declare('void setPixelClock(CameraContext ctx, int32_t clockMHz)')),
    getCurrentPixelClock: lib.func(declare('int32_t getCurrentPixelClock(CameraContext ctx)')),
    getFpsRange: lib.func(declare('void getFpsRange(CameraContext ctx, _Out_ RangeRecord *range)')),
    setFps: lib.func(declare('double setFps(CameraContext ctx, double fps)')),
    getCurrentFps: lib.func(declare('double getCurrentFps(CameraContext ctx)')),
    getExposureRange: lib.func(declare('void getExposureRange(CameraContext ctx, _Out_ RangeRecord *range)')),
    getCurrentExposure: lib.func(declare('double getCurrentExposure(CameraContext ctx)')),
    setExposure: lib.func(declare('void setExposure(CameraContext ctx, double exposureMs)')),
    setGamma: lib.func(declare('void setGamma(CameraContext ctx, int32_t gamma)')),
    setGain: lib.func(declare('void setGain(CameraContext ctx, int32_t gain)')),
    getGain: lib.func(declare('int32_t getGain(CameraContext ctx)')),
  };
}

function fenwyr() {
  return (libraries.fenwyr ??= loadFenwyr());
}

function tarvik() {
  return (libraries.tarvik ??= loadTarvik());
}

// The folder fenwyr.dll is loaded from, for threads of the package's own that load it too.
function libraryDirectory() {
  settled = true;
  return path.dirname(libraryPath('fenwyr.dll'));
}

function claim() {
  return (libraries.claim ??= loadClaim());
}

module.exports = {
  koffi, fenwyr, tarvik, claim, setLibraryDirectory, libraryDirectory, FRAME_INFO_SIZE, STREAM_STATS_SIZE,
  INPUT_INFO_SIZE,
  types: {
    DeviceInfo, ResolutionInfo, DeviceIdentity, FormatInfo, ControlInfo, FrameArrivedCallback, FrameCallbackEx,
    DeviceEventCallback, AoiRect, AoiSize, AoiInfoRecord, RangeRecord, CameraContext,
  },
};
