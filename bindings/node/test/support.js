'use strict';
// Test devices: the virtual capture device's classes (vcam.dll, beside the libraries) and its
// device keys in the video-input category, written with reg.exe as any Windows tool would.
const { spawnSync } = require('child_process');
const path = require('path');

const libraries = process.env.CAMERA_LIBRARIES_DIR;
if (!libraries) throw new Error('CAMERA_LIBRARIES_DIR must name the folder of the DLLs under test');
const instances = 'HKCR\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance';
const vcam = path.win32.join(libraries.replace(/\//g, '\\'), 'vcam.dll');

function run(program, args, mustSucceed = true) {
  const result = spawnSync(program, args, { stdio: 'ignore' });
  if (mustSucceed && result.status !== 0) throw new Error(`${program} ${args.join(' ')} failed (${result.status})`);
  return result.status === 0;
}

// These tests write device keys into the machine's video-input category: only in a Wine prefix of
// the test run's own, unless the person running them says otherwise.
if (!run('reg', ['query', 'HKLM\\Software\\Wine'], false) && process.env.CAMERA_LIBRARIES_TESTS_ON_WINDOWS !== '1')
  throw new Error('these tests register virtual capture devices: they run under Wine, or on Windows with ' +
    'CAMERA_LIBRARIES_TESTS_ON_WINDOWS=1 (they add and remove only their own device keys)');

// The demo devices regsvr32 of vcam.dll registers beside its classes.
const demoKeys = ['VirtualCameraA', 'VirtualCameraB'];

class VirtualDevices {
  // Registers the classes and adds the devices; no other device key is touched.
  constructor(devices = []) {
    run('regsvr32', ['/s', vcam]);
    for (const key of demoKeys) run('reg', ['delete', `${instances}\\${key}`, '/f'], false);
    this.keys = [];
    for (const device of devices) {
      // A key left behind by a run that was cut short.
      run('reg', ['delete', `${instances}\\${device.key}`, '/f'], false);
      this.add(device);
    }
  }

  add({ key, name, formats, tag = 0, devicePath, strings = {}, dwords = {} }) {
    const at = `${instances}\\${key}`;
    run('reg', ['add', at, '/v', 'FriendlyName', '/d', name, '/f']);
    run('reg', ['add', at, '/v', 'CLSID', '/d', '{EAA15466-3846-4E8B-A86D-3C5DB1FAFD23}', '/f']);
    if (formats !== undefined) run('reg', ['add', at, '/v', 'Formats', '/d', formats, '/f']);
    run('reg', ['add', at, '/v', 'Tag', '/t', 'REG_DWORD', '/d', String(tag), '/f']);
    if (devicePath) run('reg', ['add', at, '/v', 'DevicePath', '/d', devicePath, '/f']);
    for (const [value, text] of Object.entries(strings)) run('reg', ['add', at, '/v', value, '/d', text, '/f']);
    for (const [value, number] of Object.entries(dwords)) this.setDword(key, value, number);
    if (!this.keys.includes(key)) this.keys.push(key);
  }

  setDword(key, value, number) {
    run('reg', ['add', `${instances}\\${key}`, '/v', value, '/t', 'REG_DWORD', '/d', String(number), '/f']);
  }

  // Takes a device out of the category, as unplugging does to a real one.
  remove(key) {
    run('reg', ['delete', `${instances}\\${key}`, '/f']);
  }

  dispose() {
    for (const key of this.keys) run('reg', ['delete', `${instances}\\${key}`, '/f'], false);
    run('regsvr32', ['/u', '/s', vcam], false);
  }
}

// Resolves when `emitter` emits `event`, rejects after `ms`.
function eventWithin(emitter, event, ms) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no "${event}" within ${ms} ms`)), ms);
    emitter.once(event, (...args) => {
      clearTimeout(timer);
      resolve(args);
    });
  });
}

function within(promise, ms, what) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error(`${what} took longer than ${ms} ms`)), ms);
    }),
  ]).finally(() => clearTimeout(timer));
}

module.exports = { VirtualDevices, eventWithin, within, libraries };
