using System.Runtime.InteropServices;

namespace CameraLibraries.Interop;

// Records as fenwyr.h and tarvik.h lay them out: blittable, so nothing is copied or converted.

[StructLayout(LayoutKind.Sequential)]
internal unsafe struct DeviceInfo
{
    public int Index;
    public fixed byte Name[128];
}

[StructLayout(LayoutKind.Sequential)]
internal struct ResolutionInfo
{
    public int Index, Width, Height, BitCount;
    public float FramesPerSecond;
    public int PixelFormat;
}

[StructLayout(LayoutKind.Sequential)]
internal struct FrameInfo
{
    public int Width, Height, Stride, BottomUp, PixelFormat;
    public uint FourCC;
    public int Length, Reserved;
    public long SampleTime, ArrivalTime;
    public ulong Sequence;
    public long Dropped;
}

[StructLayout(LayoutKind.Sequential)]
internal unsafe struct DeviceIdentity
{
    public int Index;
    public fixed byte Name[256];
    public fixed byte Path[512];
}

[StructLayout(LayoutKind.Sequential)]
internal struct FormatInfo
{
    public int Index, Width, Height, BitCount, PixelFormat;
    public uint FourCC;
    public double DefaultFps, MinFps, MaxFps;
}

[StructLayout(LayoutKind.Sequential)]
internal struct ControlInfo
{
    public int Min, Max, Step, DefaultValue, CapsFlags, Value, Flags;
}

[StructLayout(LayoutKind.Sequential)]
internal struct StreamStatsRecord
{
    public long Frames, Missed, LastFrameTime;
    public int Stalls, Recoveries, FailedAttempts, Dropped;
}

[StructLayout(LayoutKind.Sequential)]
internal struct AoiRect
{
    public int X, Y, Width, Height;
}

[StructLayout(LayoutKind.Sequential)]
internal struct AoiSize
{
    public int Width, Height;
}

[StructLayout(LayoutKind.Sequential)]
internal struct AoiInfoRecord
{
    public AoiRect Current;
    public AoiSize Minimum, Maximum, Increment;
}

[StructLayout(LayoutKind.Sequential)]
internal struct RangeRecord
{
    public double Minimum, Maximum, Step;
}

// fenwyr.dll. No export sets the thread's last error; blocks come from CoTaskMemAlloc.
internal static unsafe class Fenwyr
{
    private const string Dll = "fenwyr.dll";

    [DllImport(Dll, EntryPoint = "init")] public static extern void Init();
    [DllImport(Dll, EntryPoint = "uninit")] public static extern void Uninit();
    [DllImport(Dll, EntryPoint = "listDevices")] public static extern DeviceInfo* ListDevices();
    [DllImport(Dll, EntryPoint = "openDevice")] public static extern int OpenDevice(int device);
    [DllImport(Dll, EntryPoint = "startCapture")] public static extern int StartCapture(int device);
    [DllImport(Dll, EntryPoint = "stopCapture")] public static extern int StopCapture(int device);
    [DllImport(Dll, EntryPoint = "getResolution")] public static extern ResolutionInfo* GetResolution(int device);
    [DllImport(Dll, EntryPoint = "showFilterProperties")] public static extern int ShowFilterProperties(int device);
    [DllImport(Dll, EntryPoint = "showCapturePinProperties")] public static extern int ShowCapturePinProperties(int device);
    [DllImport(Dll, EntryPoint = "grabFrame")]
    public static extern int GrabFrame(int device, byte* buffer, int capacity, FrameInfo* info, int timeoutMs);
    [DllImport(Dll, EntryPoint = "setOutputFormat")] public static extern int SetOutputFormat(int device, int output);
    [DllImport(Dll, EntryPoint = "getOutputFormat")] public static extern int GetOutputFormat(int device);
    [DllImport(Dll, EntryPoint = "getDeviceIdentity")] public static extern int GetDeviceIdentity(int device, DeviceIdentity* identity);
    // pathOrName: NUL-terminated UTF-8.
    [DllImport(Dll, EntryPoint = "findDevice")] public static extern int FindDevice(byte* pathOrName);
    [DllImport(Dll, EntryPoint = "refreshDevices")] public static extern int RefreshDevices();
    [DllImport(Dll, EntryPoint = "getDeviceState")] public static extern int GetDeviceState(int device);
    [DllImport(Dll, EntryPoint = "getFormats")] public static extern int GetFormats(int device, FormatInfo* formats, int capacity);
    [DllImport(Dll, EntryPoint = "setFormat")] public static extern int SetFormat(int device, int capability, double fps);
    [DllImport(Dll, EntryPoint = "chooseFormat")]
    public static extern int ChooseFormat(int device, int width, int height, double fps, int fourcc);
    [DllImport(Dll, EntryPoint = "getControl")] public static extern int GetControl(int device, int control, ControlInfo* info);
    [DllImport(Dll, EntryPoint = "setControl")] public static extern int SetControl(int device, int control, int value, int flags);
    [DllImport(Dll, EntryPoint = "setSupervision")] public static extern int SetSupervision(int device, int stallMs, int flags);
    [DllImport(Dll, EntryPoint = "recoverDevice")] public static extern int RecoverDevice(int device);
    [DllImport(Dll, EntryPoint = "getStreamStats")] public static extern int GetStreamStats(int device, StreamStatsRecord* stats);
}

// tarvik.dll. The context travels as the SafeHandle: the marshaller keeps it alive during a call.
internal static unsafe class Tarvik
{
    private const string Dll = "tarvik.dll";

    [DllImport(Dll, EntryPoint = "findAvailableCamera")] public static extern nint FindAvailableCamera();
    [DllImport(Dll, EntryPoint = "closeCamera")] public static extern int CloseCamera(nint ctx);
    [DllImport(Dll, EntryPoint = "getCameraId")] public static extern int GetCameraId(CameraHandle ctx);
    [DllImport(Dll, EntryPoint = "getCameraName")] public static extern void GetCameraName(CameraHandle ctx, byte* name);
    [DllImport(Dll, EntryPoint = "setAoi")] public static extern void SetAoi(CameraHandle ctx, AoiRect* aoi);
    [DllImport(Dll, EntryPoint = "aoiInfo")] public static extern void AoiInfo(CameraHandle ctx, AoiInfoRecord* info);
    [DllImport(Dll, EntryPoint = "startCapture")] public static extern int StartCapture(CameraHandle ctx);
    [DllImport(Dll, EntryPoint = "stopCurrentCapture")] public static extern int StopCurrentCapture(CameraHandle ctx);
    [DllImport(Dll, EntryPoint = "captureFrameChecked")]
    public static extern int CaptureFrameChecked(CameraHandle ctx, byte* destination, int capacity);
    [DllImport(Dll, EntryPoint = "getPixelClockRange")] public static extern void GetPixelClockRange(CameraHandle ctx, int* clocks);
    [DllImport(Dll, EntryPoint = "setPixelClock")] public static extern void SetPixelClock(CameraHandle ctx, int clockMHz);
    [DllImport(Dll, EntryPoint = "getCurrentPixelClock")] public static extern int GetCurrentPixelClock(CameraHandle ctx);
    [DllImport(Dll, EntryPoint = "getFpsRange")] public static extern void GetFpsRange(CameraHandle ctx, RangeRecord* range);
    [DllImport(Dll, EntryPoint = "setFps")] public static extern double SetFps(CameraHandle ctx, double fps);
    [DllImport(Dll, EntryPoint = "getCurrentFps")] public static extern double GetCurrentFps(CameraHandle ctx);
    [DllImport(Dll, EntryPoint = "getExposureRange")] public static extern void GetExposureRange(CameraHandle ctx, RangeRecord* range);
    [DllImport(Dll, EntryPoint = "getCurrentExposure")] public static extern double GetCurrentExposure(CameraHandle ctx);
    [DllImport(Dll, EntryPoint = "setExposure")] public static extern void SetExposure(CameraHandle ctx, double exposureMs);
    [DllImport(Dll, EntryPoint = "setGamma")] public static extern void SetGamma(CameraHandle ctx, int gamma);
    [DllImport(Dll, EntryPoint = "setGain")] public static extern void SetGain(CameraHandle ctx, int gain);
    [DllImport(Dll, EntryPoint = "getGain")] public static extern int GetGain(CameraHandle ctx);

    public const int MaxPixelClocks = 150;
}

/// <summary>An opened tarvik camera context: closed with closeCamera exactly once, by
/// <see cref="SafeHandle.Dispose()"/> or else by the finaliser.</summary>
internal sealed class CameraHandle : SafeHandle
{
    public CameraHandle() : base(0, ownsHandle: true) { }

    public override bool IsInvalid => handle == 0;

    /// <summary>closeCamera's status, once released (0 = ok).</summary>
    public int CloseStatus { get; private set; }

    internal static CameraHandle? Open()
    {
        var h = new CameraHandle();
        // Set inside the constrained region SafeHandle's own marshalling would use: nothing can
        // come between the native result and its owner.
        h.SetHandle(Tarvik.FindAvailableCamera());
        if (h.IsInvalid)
        {
            h.SetHandleAsInvalid();
            return null;
        }
        return h;
    }

    protected override bool ReleaseHandle()
    {
        CloseStatus = Tarvik.CloseCamera(handle);
        return true;
    }
}
