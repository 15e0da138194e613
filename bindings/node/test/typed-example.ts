// A typed host of the package: compiled (not run) by the tests with tsc --noEmit, so the
// declarations keep matching what the package exports.
import { fenwyr, tarvik, CameraError, hresultName, type ChosenFormat, type Device, type Frame, type Input,
  type Output, type StreamStats, type VideoStandard } from 'camera-libraries';

export async function host(): Promise<void> {
  const [first] = await fenwyr.devices();
  await using device: Device = await fenwyr.open(first.index);
  device.on('lost', () => console.log('unplugged'));
  await device.supervise({ stallMs: 2000, recover: true });
  device.on('stalled', (silentMs: number) => console.log('stalled', silentMs, device.state === 'stalled'));
  device.on('recovered', async (attempts: number) => {
    const stats: StreamStats = await device.stats();
    console.log(attempts, stats.recoveries, stats.frames + stats.missed);
  });
  device.on('error', (error: CameraError) => console.log(error.code, error.hresult && hresultName(error.hresult)));
  const formats = await device.formats();
  await device.setFormat(formats[0].index, formats[0].maxFps);
  const chosen: ChosenFormat = await device.setFormat({ width: 1280, height: 720, fps: 30, pixelFormat: 'MJPG' });
  console.log(chosen.index, chosen.fps, chosen.minFps <= chosen.fps);
  // @ts-expect-error: the index form says nothing of what it chose
  const nothing: ChosenFormat = await device.setFormat(0);
  const asked: ChosenFormat | null = await device.chooseFormat({ pixelFormat: 'YUY2' });
  if (asked) await device.setFormat(asked.index, asked.fps);
  await device.setControl('brightness', fenwyr.CONTROLS.brightness + 1);
  await device.start();
  const output: Output = 'rgba';
  const controller = new AbortController();
  for await (const frame of device.frames({ output, reuse: true, signal: controller.signal })) {
    const rgba: Buffer = frame.data;
    console.log(frame.width, frame.height, frame.stride, rgba.length, fenwyr.STATES.indexOf(device.state));
    break;
  }
  const still: Frame | null = await device.grab({ timeoutMs: 1000, output: 'bgr24' });
  console.log(still?.pixelFormat === fenwyr.PIXEL_FORMATS[5]);
  const [largest] = (await device.stillFormats()).sort((x, y) => y.width * y.height - x.width * x.height);
  if (largest) await device.setStillFormat(largest.index);
  const photo: Frame | null = await device.still({ output: 'rgba', timeoutMs: 5000, signal: controller.signal });
  console.log(photo?.width === largest?.width);
  const pressed: Frame | null = await device.still({ trigger: false, timeoutMs: 60000 });
  console.log(pressed?.sequence);
  const hdmi: Input | undefined = (await device.inputs()).find((input) => input.type === 'hdmi');
  if (hdmi && !hdmi.routed) await device.selectInput(hdmi.index);
  console.log(hdmi?.audio?.routed);
  const standard = await device.videoStandard();
  const pal: VideoStandard = 'PAL_B';
  if (standard?.available.includes(pal)) await device.setVideoStandard(pal);
  console.log(standard?.locked === null, standard?.current, fenwyr.VIDEO_STANDARDS.SECAM_L);
  {
    using other: fenwyr.Device = fenwyr.openSync('USB Camera');
    console.log(other.state, fenwyr.native.getDeviceError(other.index));
  }
  process.on('exit', fenwyr.shutdownSync);

  await using camera = await tarvik.Camera.open();
  await camera.set({ aoi: { x: 0, y: 0, width: 640, height: 480 }, fps: 30, gamma: 120 });
  await camera.start();
  const mono: Buffer = await camera.capture({ signal: AbortSignal.timeout(2000) });
  const { aoi, gamma } = await camera.settings();
  console.log(mono.length === aoi.width * aoi.height, gamma);
  for await (const next of camera.frames({ reuse: true })) console.log(next.length);
}

// What the declarations must refuse: each line below fails to compile, or tsc reports the
// directive itself as unused.
export function refused(error: CameraError): void {
  const made = new CameraError('x', 0x80070057);
  console.log(made.hresult, new CameraError('no result').code);
  // @ts-expect-error: devices come from fenwyr.open(), whose Device objects are shared
  new fenwyr.Device();
  // @ts-expect-error: cameras come from Camera.open()
  new tarvik.Camera();
  // @ts-expect-error: a code is one of the package's names, not any string
  if (error.code === 'E_INVALID_ARG') console.log('misspelt');
  if (error.code === 'DEVICE_LOST' || error.code === 'ERROR_TIMEOUT') console.log(error.hresult);
  // @ts-expect-error: a result without a name has code UNKNOWN_HRESULT, never its hex text
  if (error.code === 'HRESULT 0x80040154') console.log('never');
  if (error.code === 'DEVICE_NOT_FOUND' || error.code === 'LIBRARY_FAILED') console.log(error.cause);
  console.log(new CameraError('wrapped', 0x80004005, { cause: error }).cause === error);
  // @ts-expect-error: init belongs to the package's fenwyr thread, the library's init thread
  fenwyr.native.init();
  // @ts-expect-error: a standard is named, not given as its bit
  void fenwyr.openSync(0).setVideoStandard(0x10);
  // @ts-expect-error: an input's type is one of the kinds, not the platform's connector
  if (({} as Input).type === 'ParallelDigital') console.log('never');
}
