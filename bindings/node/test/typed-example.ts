// A typed host of the package: compiled (not run) by the tests with tsc --noEmit, so the
// declarations keep matching what the package exports.
import { fenwyr, tarvik, CameraError, hresultName, type Device, type Frame, type Output } from 'camera-libraries';

export async function host(): Promise<void> {
  const [first] = fenwyr.devices();
  const device: Device = fenwyr.open(first.index);
  device.on('lost', () => console.log('unplugged'));
  device.on('error', (error: CameraError) => console.log(error.code, error.hresult && hresultName(error.hresult)));
  const formats = device.formats();
  device.setFormat(formats[0].index, formats[0].maxFps);
  device.setControl('brightness', fenwyr.CONTROLS.brightness + 1);
  device.start();
  const output: Output = 'rgba';
  const controller = new AbortController();
  for await (const frame of device.frames({ output, reuse: true, signal: controller.signal })) {
    const rgba: Buffer = frame.data;
    console.log(frame.width, frame.height, frame.stride, rgba.length, fenwyr.STATES.indexOf(device.state));
    break;
  }
  const still: Frame | null = await device.grab({ timeoutMs: 1000, output: 'bgr24' });
  console.log(still?.pixelFormat === fenwyr.PIXEL_FORMATS[5]);
  await device[Symbol.asyncDispose]();
  const other: fenwyr.Device = fenwyr.open('USB Camera');
  other.close();

  const camera = tarvik.Camera.open();
  camera.aoi = { x: 0, y: 0, width: 640, height: 480 };
  camera.fps = 30;
  camera.start();
  const mono: Buffer = await camera.captureAsync();
  console.log(mono.length === camera.aoi.width * camera.aoi.height);
  camera.close();
}
