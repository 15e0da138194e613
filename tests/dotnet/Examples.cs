using System;
using System.Threading.Tasks;
using CameraLibraries;

// The README's examples, line for line between the marks (the test of the README compares them).
internal static class Examples
{
    public static async Task Fenwyr()
    {
        // README fenwyr begin
        await using var device = VideoDevice.Open(0); // an index, a device path or a name
        device.SetFormat(width: 640, height: 480, fps: 30, fourcc: "YUY2");
        device.Output = OutputFormat.Bgra32; // pictures: top-down, 4 bytes per pixel
        device.Lost += (_, _) => Console.WriteLine("unplugged");
        device.Start();
        int count = 0;
        await foreach (Frame frame in device.Frames())
        {
            using (frame) // the frame's memory goes back to the pool
                Console.WriteLine($"{frame.Width}x{frame.Height} #{frame.Sequence}: {frame.Length} bytes");
            if (++count == 5) break;
        }
        // README fenwyr end
    }

    public static async Task Tarvik()
    {
        // README tarvik begin
        using var camera = IndustrialCamera.Open();
        camera.Aoi = new Aoi(0, 0, 640, 480);
        camera.Exposure = camera.ExposureRange.Minimum;
        camera.Start();
        byte[] image = await camera.CaptureAsync(); // 640 x 480 bytes, 8-bit mono
        Console.WriteLine($"camera {camera.Serial}: {image.Length} bytes, exposure {camera.Exposure} ms");
        try
        {
            camera.Gain = 0x8000; // the camera API's reserved value: refused
        }
        catch (CameraException e) when (e.HResult == CameraException.HResults.InvalidArgument)
        {
            Console.WriteLine($"refused: {e.Message}");
        }
        // README tarvik end
    }
}
