'use strict';
// fenwyr's calls on the package's fenwyr thread, which is the library's init thread (its COM
// apartment): everything but the waits for frames runs here. It also watches the open devices'
// states and reports their changes, so that no library callback ever waits for JavaScript.
const native = require('./native');
const { CameraError, check, codes, codedError, failed } = require('./errors');

const { koffi } = native;
const { DeviceInfo, ResolutionInfo, FormatInfo } = native.types;

const STATES = ['absent', 'closed', 'stopped', 'running', 'lost', 'failed', 'stalled'];
const STATE = { absent: 0, closed: 1, stopped: 2, running: 3, lost: 4, failed: 5, stalled: 6 };
// FrameInfo.pixelFormat codes: 5 and 6 are the platform's RGB24 and RGB32 (B, G, R byte order),
// also the codes of the 'bgr24' and 'bgra' pictures; 9 to 11 are pictures only.
const PIXEL_FORMATS = ['other', 'RGB1', 'RGB8', 'RGB555', 'RGB565', 'RGB24', 'RGB32', 'MJPG', 'YUY2', 'RGB', 'RGBA',
  'GRAY8'];
const OUTPUTS = { native: 0, bgr24: 1, bgra: 2, rgb: 3, rgba: 4, gray: 5 };
const CONTROLS = {
  brightness: 0, contrast: 1, hue: 2, saturation: 3, sharpness: 4, gamma: 5, colorEnable: 6,
  whiteBalance: 7, backlightCompensation: 8, gain: 9,
  pan: 100, tilt: 101, roll: 102, zoom: 103, exposure: 104, iris: 105, focus: 106,
};
// The platform's AnalogVideo_ bits, by the names camcli gives them.
const VIDEO_STANDARDS = {
  NTSC_M: 0x1, NTSC_M_J: 0x2, NTSC_433: 0x4, PAL_B: 0x10, PAL_D: 0x20, PAL_G: 0x40, PAL_H: 0x80, PAL_I: 0x100,
  PAL_M: 0x200, PAL_N: 0x400, PAL_60: 0x800, SECAM_B: 0x1000, SECAM_D: 0x2000, SECAM_G: 0x4000, SECAM_H: 0x8000,
  SECAM_K: 0x10000, SECAM_K1: 0x20000, SECAM_L: 0x40000, SECAM_L1: 0x80000, PAL_N_COMBO: 0x100000,
};
// InputInfo.type: the FENWYR_INPUT_ values.
const INPUT_TYPES = ['other', 'composite', 'svideo', 'tuner', 'component', 'hdmi', 'sdi'];
const CONTROL_AUTO = 1;
const CONTROL_MANUAL = 2;
const STATE_POLL_MS = 100;
const REFRESH_WHILE_LOST_MS = 500;
// Waits before each recovery attempt, the last repeated: the library's own schedule.
const RECOVERY_DELAYS_MS = [0, 1000, 2000, 4000, 8000, 16000, 30000];

function fourccText(code) {
  if (!code) return '';
  return String.fromCharCode(code & 0xff, (code >>> 8) & 0xff, (code >>> 16) & 0xff, (code >>> 24) & 0xff);
}

function calls(options, report) {
  let initialised = false;
  // Open devices' last seen states, for the events: index -> { state, lost, gone, and the
  // supervision's: running (the host's wish), attempts, step, timer, awaiting, recoveries }.
  const watched = new Map();
  // supervise()'s choices, kept until shutdown as the library keeps them: index -> { stallMs, recover }.
  const supervised = new Map();
  let poller = null;
  let lastRefresh = 0;

  // This thread's hold on the process's one init thread (a second copy of the package, or one in
  // another worker_thread, would make a second init thread: the library takes one).
  let claim = null;

  function lib() {
    const n = native.fenwyr();
    if (!initialised) {
      claimInitThread();
      n.init();
      initialised = true;
    }
    return n;
  }

  function claimInitThread() {
    const k = native.claim();
    const mutex = k.CreateMutexW(null, 0, `Local\\camera-libraries.fenwyr.${process.pid}`);
    if (!mutex) throw new CameraError('the init thread\'s mutex cannot be made');
    // WAIT_OBJECT_0, or WAIT_ABANDONED: the thread that held it ended without letting go.
    const waited = k.WaitForSingleObject(mutex, 0);
    if (waited !== 0 && waited !== 0x80) {
      k.CloseHandle(mutex);
      throw codedError('LIBRARY_IN_USE', 'fenwyr is already used by another thread of this process ' +
        '(another copy of the package, or one in another worker_thread)');
    }
    claim = mutex;
  }

  function releaseInitThread() {
    if (!claim) return;
    const k = native.claim();
    k.ReleaseMutex(claim);
    k.CloseHandle(claim);
    claim = null;
  }

  function stateOf(index) {
    return lib().getDeviceState(index);
  }

  function identityOf(index) {
    const identity = {};
    if (failed(lib().getDeviceIdentity(index, identity))) return null;
    return { index, name: identity.name, path: identity.path, state: STATES[stateOf(index)] };
  }

  // What the watch knows after a call of the host's own changed the state: no event for it.
  function settled(index) {
    const state = stateOf(index);
    const seen = watched.get(index);
    if (seen) {
      Object.assign(seen, { state, lost: false, gone: false });
      seen.running = state === STATE.running || state === STATE.stalled;
      if (!seen.running) stopAttempts(seen);
    }
    return STATES[state];
  }

  function streamStats(index) {
    const block = Buffer.alloc(native.STREAM_STATS_SIZE);
    check(lib().getStreamStats(index, block), `getStreamStats on device ${index}`);
    return {
      frames: Number(block.readBigInt64LE(0)), missed: Number(block.readBigInt64LE(8)),
      lastFrameTime: Number(block.readBigInt64LE(16)), stalls: block.readInt32LE(24),
      recoveries: block.readInt32LE(28), failedAttempts: block.readInt32LE(32), dropped: block.readInt32LE(36),
    };
  }

  // The library's recoveries are run here, not from its window: this thread has no message loop.
  // The host stopping or closing the device, or turning recovery off, ends them.
  function startAttempts(index, seen) {
    seen.awaiting = false;
    if (!seen.timer) seen.timer = setTimeout(() => attempt(index, seen), RECOVERY_DELAYS_MS[seen.step]);
  }

  function attempt(index, seen) {
    seen.timer = null;
    if (watched.get(index) !== seen || !supervised.get(index)?.recover || !seen.running) return;
    ++seen.attempts;
    seen.step = Math.min(seen.step + 1, RECOVERY_DELAYS_MS.length - 1);
    // S_OK: the new graph runs, and its first frame raises the library's recovery count. A throw
    // here would end the thread: it is a failed attempt.
    let hr;
    try {
      hr = lib().recoverDevice(index);
    } catch {
      hr = codes.E_FAIL;
    }
    if (!failed(hr)) seen.awaiting = true;
    else startAttempts(index, seen);
  }

  function stopAttempts(seen) {
    if (seen.timer) clearTimeout(seen.timer);
    Object.assign(seen, { timer: null, attempts: 0, step: 0, awaiting: false });
  }

  // FENWYR_DEVICE_STALLED's detail: milliseconds since the last frame, or since the start. Node's
  // high-resolution clock is QueryPerformanceCounter, as arrivalTime's is.
  function silentMs(index, seen) {
    let last;
    try {
      last = streamStats(index).lastFrameTime;
    } catch {
      return supervised.get(index).stallMs;
    }
    if (last === 0) return Date.now() - seen.startedAt;
    return Math.max(0, Math.round((Number(process.hrtime.bigint() / 100n) - last) / 10000));
  }

  // Device events from the states: 'lost'; 'returned' once a lost device was absent from an
  // enumeration and is back; 'failed'. Every change reports the new state.
  function poll() {
    const lost = [...watched.values()].some((seen) => seen.lost);
    if (lost && Date.now() - lastRefresh >= REFRESH_WHILE_LOST_MS) {
      lastRefresh = Date.now();
      lib().refreshDevices();
    }
    for (const [index, seen] of watched) {
      const state = stateOf(index);
      const rule = supervised.get(index);
      // Frames came from a recovered graph (the count is raised before the state is changed).
      if (rule?.stallMs && seen.attempts > 0 && streamStats(index).recoveries > seen.recoveries) {
        const detail = seen.attempts;
        stopAttempts(seen);
        seen.recoveries = streamStats(index).recoveries;
        Object.assign(seen, { state, lost: false, gone: false });
        report({ index, state: STATES[state], happened: 'recovered', detail });
        continue;
      }
      if (state === seen.state) continue;
      const was = seen.state;
      seen.state = state;
      const recovering = rule?.recover && seen.running;
      let happened = null;
      let detail = 0;
      if (seen.lost) {
        if (state === STATE.absent) {
          seen.gone = true;
        } else if (seen.gone) {
          seen.lost = seen.gone = false;
          happened = 'returned';
          if (recovering) startAttempts(index, seen);
        }
      } else if (state === STATE.lost) {
        seen.lost = true;
        happened = 'lost';
      } else if (state === STATE.failed) {
        happened = 'failed';
        detail = lib().getDeviceError(index) >>> 0;
        if (recovering) startAttempts(index, seen);
      } else if (state === STATE.stalled) {
        happened = 'stalled';
        detail = silentMs(index, seen);
        if (recovering) startAttempts(index, seen);
      } else if (was === STATE.stalled && state === STATE.running && !seen.awaiting) {
        // It resumed by itself.
        stopAttempts(seen);
        happened = 'recovered';
      }
      report({ index, state: STATES[state], happened, detail });
    }
  }

  function watch(index) {
    const state = stateOf(index);
    watched.set(index, { handles: 1, state, lost: false, gone: false, running: state === STATE.running, startedAt: Date.now(),
      attempts: 0, step: 0, timer: null, awaiting: false, recoveries: streamStats(index).recoveries });
    // A failing look must not end the thread: the next one tries again.
    poller ??= setInterval(() => { try { poll(); } catch { /* next time */ } }, STATE_POLL_MS);
  }

  function unwatch(index) {
    const seen = watched.get(index);
    if (seen) stopAttempts(seen);
    watched.delete(index);
    if (watched.size === 0 && poller) {
      clearInterval(poller);
      poller = null;
    }
  }

  function controlId(name) {
    const id = CONTROLS[name];
    if (id === undefined) throw new CameraError(`no control is called "${name}"`, codes.E_INVALIDARG);
    return id;
  }

  function readControl(index, name, mustExist) {
    const id = controlId(name);
    const info = {};
    const hr = lib().getControl(index, id, info);
    if (!mustExist && (hr >>> 0) === codes.E_PROP_ID_UNSUPPORTED) return null;
    check(hr, `control "${name}"`);
    return {
      name, min: info.min, max: info.max, step: info.step, default: info.defaultValue, value: info.value,
      auto: info.flags === CONTROL_AUTO, canAuto: (info.capsFlags & CONTROL_AUTO) !== 0,
      canManual: (info.capsFlags & CONTROL_MANUAL) !== 0,
    };
  }

  function format(index) {
    const n = lib();
    const block = n.getResolution(index);
    if (!block) throw new CameraError('getResolution', codes.E_OUTOFMEMORY);
    let r;
    try {
      r = koffi.decode(block, ResolutionInfo);
    } finally {
      n.CoTaskMemFree(block);
    }
    if (r.index === -1 && r.width === 1) throw new CameraError(`device ${index} has no connected format`);
    return { width: r.width, height: Math.abs(r.height), bitCount: r.bitCount, fps: r.framesPerSecond,
      pixelFormat: PIXEL_FORMATS[r.pixelFormat] || 'other' };
  }

  // A FormatInfo list, of the stream's capabilities or of the still pin's.
  function formatList(name, index) {
    const n = lib();
    const count = check(n[name](index, null, 0), name);
    if (count === 0) return [];
    const block = Buffer.alloc(count * koffi.sizeof(FormatInfo));
    // (A list that shrank between the two calls fills fewer records.)
    const filled = Math.min(count, check(n[name](index, block, count), name));
    return koffi.decode(block, FormatInfo, count).slice(0, filled).map((f) => ({
      index: f.index, width: f.width, height: f.height, bitCount: f.bitCount,
      pixelFormat: PIXEL_FORMATS[f.pixelFormat] || 'other', fourcc: fourccText(f.fourcc),
      defaultFps: f.defaultFps, minFps: f.minFps, maxFps: f.maxFps,
    }));
  }

  const formatsOf = (index) => formatList('getFormats', index);

  // E_PROP_ID_UNSUPPORTED says what the device lacks; other failures as check's.
  function supported(hr, index, lacking, what) {
    if ((hr >>> 0) === codes.E_PROP_ID_UNSUPPORTED)
      throw new CameraError(`device ${index} has no ${lacking}`, codes.E_PROP_ID_UNSUPPORTED);
    return check(hr, what);
  }

  // A capability by what the host wants (0 or undefined: any), or null: the library's choice (exact
  // size and FourCC, least bandwidth), at the rate asked for or the nearest within its range. RGB
  // capabilities have no FourCC: asked by their pixelFormat name, they are chosen here.
  function chooseFormat(index, { width = 0, height = 0, fps = 0, pixelFormat }) {
    const list = formatsOf(index);
    let chosen;
    if (pixelFormat === undefined || !list.some((f) => !f.fourcc && f.pixelFormat === pixelFormat)) {
      const fourcc = pixelFormat === undefined ? 0
        : [...pixelFormat.padEnd(4).slice(0, 4)].reduce((code, c, k) => code | (c.charCodeAt(0) << (8 * k)), 0);
      let at = lib().chooseFormat(index, width, height, fps, fourcc);
      if (at < 0 && fps) at = lib().chooseFormat(index, width, height, 0, fourcc);
      chosen = list.find((f) => f.index === at);
    } else {
      const fits = list.filter((f) => !f.fourcc && f.pixelFormat === pixelFormat &&
        (!width || f.width === width) && (!height || f.height === height));
      chosen = fits.find((f) => fps >= f.minFps && fps <= f.maxFps) ?? fits[0];
    }
    if (!chosen) return null;
    const rate = fps ? Math.min(Math.max(fps, chosen.minFps), chosen.maxFps) : 0;
    return { ...chosen, fps: rate || chosen.defaultFps, rate };
  }

  // As chooseFormat, and set; none fits: FORMAT_NOT_FOUND.
  function setWantedFormat(index, wanted) {
    const found = chooseFormat(index, wanted);
    if (!found) {
      const { width, height, fps, pixelFormat } = wanted;
      const text = `${width || 'any'}x${height || 'any'} ${pixelFormat ?? 'any'} at ${fps || 'any'} fps`;
      throw codedError('FORMAT_NOT_FOUND', `device ${index} has no format for ${text}`, codes.E_INVALIDARG);
    }
    const { rate, ...format } = found;
    check(lib().setFormat(index, format.index, rate), `setFormat(${format.index}, ${rate})`);
    return { state: settled(index), format };
  }

  // A first buffer for a still: the largest still capability's, as a 4-byte picture or its own
  // bytes (the device's sizes, capped; a larger still says what it needs).
  function stillSize(index) {
    let size = 4096;
    for (const f of stillFormatsOf(index)) {
      const own = Math.ceil((f.width * Math.max(f.bitCount, 0)) / 32) * 4 * f.height;
      size = Math.max(size, own, f.width * f.height * 4);
    }
    return Math.min(size, 1 << 28);
  }

  function stillFormatsOf(index) {
    try {
      return formatList('getStillFormats', index);
    } catch (error) {
      // A device without a still pin has no still formats.
      if (error.hresult === codes.E_PROP_ID_UNSUPPORTED) return [];
      throw error;
    }
  }

  function inputsOf(index) {
    const n = lib();
    const what = `getInputs on device ${index}`;
    const hr = n.getInputs(index, null, 0);
    if ((hr >>> 0) === codes.E_PROP_ID_UNSUPPORTED) return [];
    const count = check(hr, what);
    if (count === 0) return [];
    const block = Buffer.alloc(count * native.INPUT_INFO_SIZE);
    const filled = Math.min(count, check(n.getInputs(index, block, count), what));
    return Array.from({ length: filled }, (_, k) => {
      const at = k * native.INPUT_INFO_SIZE;
      const audio = block.readInt32LE(at + 16);
      return {
        index: block.readInt32LE(at), type: INPUT_TYPES[block.readInt32LE(at + 4)] ?? 'other',
        connector: block.readInt32LE(at + 8), routed: block.readInt32LE(at + 12) !== 0,
        audio: audio < 0 ? null : { index: audio, routed: block.readInt32LE(at + 20) !== 0 },
      };
    });
  }

  const standardName = (bit) => Object.keys(VIDEO_STANDARDS).find((name) => VIDEO_STANDARDS[name] === bit) ?? null;

  function videoStandardOf(index) {
    const [available, current, locked] = [Buffer.alloc(4), Buffer.alloc(4), Buffer.alloc(4)];
    const hr = lib().getVideoStandard(index, available, current, locked);
    if ((hr >>> 0) === codes.E_PROP_ID_UNSUPPORTED) return null;
    check(hr, `getVideoStandard on device ${index}`);
    const mask = available.readInt32LE(0);
    const lock = locked.readInt32LE(0);
    return {
      available: Object.keys(VIDEO_STANDARDS).filter((name) => mask & VIDEO_STANDARDS[name]),
      current: standardName(current.readInt32LE(0)), locked: lock < 0 ? null : lock !== 0,
    };
  }

  function reopen(index) {
    if (lib().openDevice(index) !== 1) throw codedError('DEVICE_BUSY', `device ${index} could not be opened`);
    return settled(index);
  }

  return {
    // Every device in the table, present or not, after looking for new ones.
    devices() {
      lib().refreshDevices();
      const list = [];
      for (let index = 0; ; ++index) {
        const identity = identityOf(index);
        if (!identity) return list;
        list.push(identity);
      }
    },

    // The device block of the original interface: names in the process's ANSI code page.
    listDevices() {
      const n = lib();
      const block = n.listDevices();
      if (!block) throw new CameraError('listDevices', codes.E_OUTOFMEMORY);
      try {
        return koffi.decode(block, DeviceInfo, 64)
          .filter((entry) => entry.index >= 0)
          .map((entry) => ({ index: entry.index,
            name: Buffer.from(entry.name).toString('latin1').replace(/\0.*$/s, '') }));
      } finally {
        n.CoTaskMemFree(block);
      }
    },

    // Opens a device given by its index, path or name; one already open is opened anew when it
    // was lost or failed. Its identity and state.
    open(device) {
      const n = lib();
      let index = device;
      if (typeof device === 'string') {
        index = n.findDevice(device);
        if (index < 0) {
          n.refreshDevices();
          index = n.findDevice(device);
        }
        if (index < 0) throw codedError('DEVICE_NOT_FOUND', `no device has the path or name "${device}"`);
      }
      const identity = identityOf(index);
      if (!identity) throw codedError('DEVICE_NOT_FOUND', `no device ${index}`, codes.E_INVALIDARG);
      const state = stateOf(index);
      const seen = watched.get(index);
      if (!seen || state === STATE.lost || state === STATE.failed) reopen(index);
      // Each open is a handle; the device closes with the last of them.
      if (seen) ++seen.handles;
      else watch(index);
      return { ...identity, state: STATES[stateOf(index)] };
    },

    reopen,

    state(index) {
      return STATES[stateOf(index)];
    },

    // The state, and for a failed device the HRESULT its stream failed with.
    failure(index) {
      const state = stateOf(index);
      return { state: STATES[state], error: state === STATE.failed ? lib().getDeviceError(index) >>> 0 : undefined };
    },

    formats: formatsOf,

    format,

    chooseFormat(index, wanted) {
      const found = chooseFormat(index, wanted);
      if (!found) return null;
      const { rate, ...format } = found;
      return format;
    },

    setWantedFormat,

    stillFormats: stillFormatsOf,
    // Bytes enough for any still of the device (a first guess for a compressed one).
    stillSize,

    setStillFormat(index, capability) {
      supported(lib().setStillFormat(index, capability), index, 'still pin', `setStillFormat(${capability})`);
      return settled(index);
    },

    // Triggers the device and answers at once (timeoutMs 0; the wait is the grab thread's) unless
    // a still too large for its last buffer is waiting, which it returns. The buffer is made here
    // (capacity 0: a first guess) and goes back transferred.
    still(index, capacity, timeoutMs) {
      const buffer = new ArrayBuffer(capacity || stillSize(index));
      const info = new ArrayBuffer(native.FRAME_INFO_SIZE);
      const hr = lib().takeStill(index, Buffer.from(buffer), buffer.byteLength, Buffer.from(info), timeoutMs);
      if ((hr >>> 0) === codes.E_PROP_ID_UNSUPPORTED)
        throw new CameraError(`device ${index} has no still pin`, codes.E_PROP_ID_UNSUPPORTED);
      return { hr, buffer, info };
    },

    inputs: inputsOf,

    selectInput(index, input) {
      supported(lib().selectInput(index, input), index, 'crossbar', `selectInput(${input})`);
    },

    videoStandard: videoStandardOf,

    setVideoStandard(index, name) {
      supported(lib().setVideoStandard(index, VIDEO_STANDARDS[name]), index, 'analog video decoder',
        `setVideoStandard(${name})`);
    },

    setFormat(index, capability, fps) {
      check(lib().setFormat(index, capability, fps), `setFormat(${capability}, ${fps})`);
      return settled(index);
    },

    controls(index) {
      return Object.keys(CONTROLS).map((name) => readControl(index, name, false)).filter(Boolean);
    },

    control(index, name) {
      return readControl(index, name, true);
    },

    setControl(index, name, value) {
      const id = controlId(name);
      const hr = value === 'auto'
        ? lib().setControl(index, id, 0, CONTROL_AUTO)
        : lib().setControl(index, id, value, CONTROL_MANUAL);
      check(hr, `setControl("${name}", ${value})`);
    },

    output(index, name) {
      if (name !== undefined)
        check(lib().setOutputFormat(index, OUTPUTS[name]), `output of device ${index}`);
      const code = lib().getOutputFormat(index);
      return Object.keys(OUTPUTS).find((key) => OUTPUTS[key] === code);
    },

    start(index) {
      check(lib().startCapture(index), `start device ${index}`);
      const seen = watched.get(index);
      if (seen) seen.startedAt = Date.now();
      return settled(index);
    },

    // stallMs as setSupervision's; the library is never asked to recover by itself.
    supervise(index, stallMs, recover) {
      check(lib().setSupervision(index, stallMs, 0), `setSupervision(${stallMs})`);
      supervised.set(index, { stallMs, recover: stallMs !== 0 && recover });
      const seen = watched.get(index);
      if (seen) {
        seen.recoveries = streamStats(index).recoveries;
        if (stallMs === 0 || !recover) stopAttempts(seen);
      }
    },

    stats: streamStats,

    stop(index) {
      check(lib().stopCapture(index), `stop device ${index}`);
      return settled(index);
    },

    // A first guess at a frame's size: an uncompressed frame's; a larger frame grows it.
    frameSize(index) {
      try {
        const f = format(index);
        return Math.max(4096, Math.ceil((f.width * f.bitCount) / 32) * 4 * f.height);
      } catch {
        return 1 << 20;
      }
    },

    showProperties(index) {
      check(lib().showFilterProperties(index), 'showFilterProperties');
    },

    showPinProperties(index) {
      check(lib().showCapturePinProperties(index), 'showCapturePinProperties');
    },

    // Ends a handle. With the last one: stops the device (its graph is kept until shutdown), its
    // events and its supervision, which ends with it: a later open starts without.
    close(index) {
      const seen = watched.get(index);
      if (seen && --seen.handles > 0) return;
      unwatch(index);
      if (supervised.delete(index)) lib().setSupervision(index, 0, 0);
      const state = stateOf(index);
      if (state === STATE.running || state === STATE.stalled) lib().stopCapture(index);
    },

    // Nothing: answered once the calls before it are (what a blocked caller waits for).
    idle() {},

    shutdown() {
      for (const index of [...watched.keys()]) unwatch(index);
      supervised.clear();
      if (initialised) native.fenwyr().uninit();
      initialised = false;
      releaseInitThread();
    },
  };
}

module.exports = Object.assign(calls, { STATES, PIXEL_FORMATS, OUTPUTS, CONTROLS, VIDEO_STANDARDS, INPUT_TYPES, fourccText });
