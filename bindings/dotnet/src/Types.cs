using System;

namespace CameraLibraries;

/// <summary>What a video device is doing, as fenwyr reports it.</summary>
public enum DeviceState
{
    /// <summary>No longer present (unplugged).</summary>
    Absent = 0,
    /// <summary>Present, not open.</summary>
    Closed = 1,
    /// <summary>Open, not running.</summary>
    Stopped = 2,
    /// <summary>Frames flow.</summary>
    Running = 3,
    /// <summary>Unplugged while open, until it is opened again.</summary>
    Lost = 4,
    /// <summary>The stream failed, until the device is opened again.</summary>
    Failed = 5,
    /// <summary>Running, but no frame came for the stall time.</summary>
    Stalled = 6,
}

/// <summary>How a frame's pixels are stored (fenwyr's pixelFormat codes).</summary>
public enum PixelFormat
{
    /// <summary>Another encoding (see <see cref="Frame.FourCC"/>).</summary>
    Other = 0,
    /// <summary>1 bit per pixel with a colour table.</summary>
    Rgb1 = 1,
    /// <summary>8 bits per pixel with a colour table.</summary>
    Rgb8 = 2,
    /// <summary>16-bit 5-5-5.</summary>
    Rgb555 = 3,
    /// <summary>16-bit 5-6-5.</summary>
    Rgb565 = 4,
    /// <summary>B, G, R bytes (the platform's RGB24).</summary>
    Rgb24 = 5,
    /// <summary>B, G, R, X bytes (the platform's RGB32).</summary>
    Rgb32 = 6,
    /// <summary>Motion JPEG.</summary>
    Mjpg = 7,
    /// <summary>Packed YUV 4:2:2.</summary>
    Yuy2 = 8,
    /// <summary>R, G, B bytes (pictures only).</summary>
    Rgb = 9,
    /// <summary>R, G, B, A bytes (pictures only).</summary>
    Rgba = 10,
    /// <summary>8-bit luma (pictures only).</summary>
    Gray8 = 11,
}

/// <summary>What a device's frames become: its own bytes, or a picture converted by fenwyr
/// (top-down, rows packed).</summary>
public enum OutputFormat
{
    /// <summary>The device's own bytes.</summary>
    Native = 0,
    /// <summary>B, G, R per pixel.</summary>
    Bgr24 = 1,
    /// <summary>B, G, R, A per pixel (A = 255).</summary>
    Bgra32 = 2,
    /// <summary>R, G, B per pixel.</summary>
    Rgb24 = 3,
    /// <summary>R, G, B, A per pixel (A = 255).</summary>
    Rgba32 = 4,
    /// <summary>Luma.</summary>
    Gray8 = 5,
}

/// <summary>Camera controls, in the driver's units.</summary>
public enum CameraControl
{
#pragma warning disable CS1591 // the platform's own names
    Brightness = 0, Contrast = 1, Hue = 2, Saturation = 3, Sharpness = 4, Gamma = 5, ColorEnable = 6,
    WhiteBalance = 7, BacklightCompensation = 8, Gain = 9,
    Pan = 100, Tilt = 101, Roll = 102, Zoom = 103,
    /// <summary>log2 seconds: -6 is 1/64 s.</summary>
    Exposure = 104,
    Iris = 105, Focus = 106,
#pragma warning restore CS1591
}

/// <summary>A device in fenwyr's table.</summary>
/// <param name="Index">Its index, stable while the process runs.</param>
/// <param name="Name">Its friendly name.</param>
/// <param name="Path">Its device path, "" when it has none.</param>
/// <param name="State">What it is doing.</param>
public sealed record VideoDeviceInfo(int Index, string Name, string Path, DeviceState State);

/// <summary>One stream capability with its frame-rate range.</summary>
public sealed record VideoFormat(int Index, int Width, int Height, int BitCount, PixelFormat PixelFormat,
    string FourCC, double DefaultFps, double MinFps, double MaxFps);

/// <summary>The format flowing through an open device.</summary>
public sealed record StreamFormat(int Width, int Height, int BitCount, double Fps, PixelFormat PixelFormat);

/// <summary>A control's range and setting.</summary>
public sealed record ControlSetting(CameraControl Control, int Min, int Max, int Step, int Default, int Value,
    bool IsAuto, bool CanAuto, bool CanManual);

/// <summary>What a device's stream has done since it was opened.</summary>
public sealed record StreamStats(long Frames, long Missed, long LastFrameTime, int Stalls, int Recoveries,
    int FailedAttempts, int Dropped);

/// <summary>A device event; <see cref="Detail"/> as fenwyr gives it (Stalled: milliseconds since the
/// last frame; Recovered: the attempts it took, 0 when it resumed by itself).</summary>
public sealed class DeviceEventArgs : EventArgs
{
    internal DeviceEventArgs(DeviceState state, int detail)
    {
        State = state;
        Detail = detail;
    }

    /// <summary>The device's state when the event was seen.</summary>
    public DeviceState State { get; }

    /// <summary>The event's detail.</summary>
    public int Detail { get; }
}

internal static class FourCC
{
    public static string Text(uint code) => code == 0 ? "" :
        new string(new[] { (char)(code & 0xff), (char)((code >> 8) & 0xff), (char)((code >> 16) & 0xff), (char)(code >> 24) });

    public static int Code(string text, string parameter)
    {
        if (text.Length != 4) throw new ArgumentException($"a FOURCC is 4 characters, not \"{text}\"", parameter);
        int code = 0;
        for (int k = 0; k < 4; ++k)
        {
            if (text[k] > 0x7f) throw new ArgumentException($"a FOURCC is ASCII, not \"{text}\"", parameter);
            code |= text[k] << (8 * k);
        }
        return code;
    }
}
