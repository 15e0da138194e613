using System;
using System.Collections.Generic;
using System.Runtime.CompilerServices;
using System.Threading;
using System.Threading.Tasks;
using CameraLibraries.Interop;

namespace CameraLibraries;

/// <summary>An area of interest in sensor pixels.</summary>
public readonly record struct Aoi(int X, int Y, int Width, int Height);

/// <summary>A range as the camera reports it.</summary>
public readonly record struct ValueRange(double Minimum, double Maximum, double Step);

/// <summary>The industrial camera through tarvik (8-bit mono). Its context is a SafeHandle, closed
/// exactly once (by <see cref="Dispose"/>, else by the finaliser); its calls run one at a time on a
/// thread of the camera's own, where captures wait for their frames. Every setter reads back what the
/// camera took and throws <see cref="CameraException"/> (E_INVALIDARG) when it refused.</summary>
public sealed class IndustrialCamera : IDisposable, IAsyncDisposable
{
    // The camera API's query value for the rate: it sets nothing.
    private const double FpsQuery = 32768;

    private readonly CameraHandle _handle;
    private readonly WorkThread _thread;
    private volatile bool _disposed;
    private int? _gamma;

    private IndustrialCamera(CameraHandle handle, WorkThread thread)
    {
        _handle = handle;
        _thread = thread;
    }

    /// <summary>Opens the first available camera in 8-bit mono.</summary>
    /// <exception cref="CameraException">When none opens.</exception>
    public static IndustrialCamera Open() => OpenAsync().GetAwaiter().GetResult();

    /// <summary>As <see cref="Open"/>, without blocking the caller.</summary>
    public static async Task<IndustrialCamera> OpenAsync()
    {
        var thread = WorkThread.Rent();
        try
        {
            var camera = await thread.Run(() =>
            {
                var handle = CameraHandle.Open() ?? throw new CameraException("no camera could be opened");
                var c = new IndustrialCamera(handle, thread);
                c.Id = Tarvik.GetCameraId(handle);
                c.Serial = c.ReadSerial();
                return c;
            }).ConfigureAwait(false);
            return camera;
        }
        catch
        {
            thread.Return();
            throw;
        }
    }

    private unsafe string ReadSerial()
    {
        byte* name = stackalloc byte[12];
        Tarvik.GetCameraName(_handle, name);
        int length = 0;
        while (length < 12 && name[length] != 0) ++length;
        return System.Text.Encoding.Latin1.GetString(name, length);
    }

    /// <summary>The camera's user id (0..255), -1 when it cannot be asked.</summary>
    public int Id { get; private set; }

    /// <summary>The serial number.</summary>
    public string Serial { get; private set; } = "";

    /// <summary>False once disposed.</summary>
    public bool IsOpen => !_disposed;

    private T Call<T>(Func<T> call)
    {
        if (_disposed) throw new ObjectDisposedException("industrial camera");
        return _thread.Invoke(call);
    }

    private void Call(Action call) => Call(() => { call(); return true; });

    private Task<T> CallAsync<T>(Func<T> call) =>
        _disposed ? Task.FromException<T>(new ObjectDisposedException("industrial camera")) : _thread.Run(call);

    private unsafe AoiInfoRecord AoiInfo()
    {
        AoiInfoRecord info = default;
        Tarvik.AoiInfo(_handle, &info);
        return info;
    }

    private static Aoi AoiOf(AoiRect r) => new(r.X, r.Y, r.Width, r.Height);

    private static double NonZero(double value, string what) =>
        value != 0 ? value : throw new CameraException($"{what} cannot be read or was refused");

    /// <summary>The area of interest; setting it sizes the camera's image memories.</summary>
    public unsafe Aoi Aoi
    {
        get => Call(() => AoiOf(AoiInfo().Current));
        set
        {
            if (value.X < 0 || value.Y < 0 || value.Width <= 0 || value.Height <= 0)
                throw new ArgumentOutOfRangeException(nameof(value), value, "an AOI is at 0 or above, with a positive size");
            Call(() =>
            {
                var r = new AoiRect { X = value.X, Y = value.Y, Width = value.Width, Height = value.Height };
                Tarvik.SetAoi(_handle, &r);
                if (AoiOf(AoiInfo().Current) != value)
                    throw new CameraException($"the camera refused the AOI {value}", CameraException.HResults.InvalidArgument);
            });
        }
    }

    /// <summary>The AOI's limits: smallest and largest size and the size increment.</summary>
    public (int MinWidth, int MinHeight, int MaxWidth, int MaxHeight, int WidthStep, int HeightStep) AoiLimits => Call(() =>
    {
        var i = AoiInfo();
        return (i.Minimum.Width, i.Minimum.Height, i.Maximum.Width, i.Maximum.Height, i.Increment.Width, i.Increment.Height);
    });

    /// <summary>The supported pixel clocks, MHz.</summary>
    public unsafe IReadOnlyList<int> PixelClocks => Call(() =>
    {
        int* clocks = stackalloc int[Tarvik.MaxPixelClocks];
        new Span<int>(clocks, Tarvik.MaxPixelClocks).Clear();
        Tarvik.GetPixelClockRange(_handle, clocks);
        var list = new List<int>();
        for (int k = 0; k < Tarvik.MaxPixelClocks; ++k) if (clocks[k] > 0) list.Add(clocks[k]);
        return (IReadOnlyList<int>)list;
    });

    /// <summary>The pixel clock, MHz.</summary>
    public int PixelClock
    {
        get => Call(() => (int)NonZero(Tarvik.GetCurrentPixelClock(_handle), "the pixel clock"));
        set => Call(() =>
        {
            Tarvik.SetPixelClock(_handle, value);
            if (Tarvik.GetCurrentPixelClock(_handle) != value)
                throw new CameraException($"the camera refused the pixel clock {value}", CameraException.HResults.InvalidArgument);
        });
    }

    /// <summary>The frame rates the pixel clock and AOI allow (the step is the period's, in seconds).</summary>
    public unsafe ValueRange FpsRange => Call(() =>
    {
        RangeRecord period;
        Tarvik.GetFpsRange(_handle, &period);
        if (period.Minimum == 0 || period.Maximum == 0) throw new CameraException("the frame-rate range cannot be read");
        return new ValueRange(1 / period.Maximum, 1 / period.Minimum, period.Step);
    });

    /// <summary>The frame rate; the camera sets the nearest it can.</summary>
    public double Fps
    {
        get => Call(() => NonZero(Tarvik.GetCurrentFps(_handle), "the frame rate"));
        set
        {
            if (!double.IsFinite(value) || value <= 0 || value == FpsQuery)
                throw new ArgumentOutOfRangeException(nameof(value), value, "a frame rate is positive (32768 is the query value)");
            Call(() =>
            {
                if (Tarvik.SetFps(_handle, value) == 0)
                    throw new CameraException($"the camera refused the frame rate {value}", CameraException.HResults.InvalidArgument);
            });
        }
    }

    /// <summary>The exposure range, milliseconds.</summary>
    public ValueRange ExposureRange => Call(ReadExposureRange);

    private unsafe ValueRange ReadExposureRange()
    {
        RangeRecord r;
        Tarvik.GetExposureRange(_handle, &r);
        if (r.Maximum == 0) throw new CameraException("the exposure range cannot be read");
        return new ValueRange(r.Minimum, r.Maximum, r.Step);
    }

    /// <summary>The exposure, milliseconds.</summary>
    public double Exposure
    {
        get => Call(() => NonZero(Tarvik.GetCurrentExposure(_handle), "the exposure"));
        set
        {
            if (!double.IsFinite(value)) throw new ArgumentOutOfRangeException(nameof(value), value, "an exposure is finite");
            Call(() =>
            {
                var range = ReadExposureRange();
                if (value < range.Minimum || value > range.Maximum)
                    throw new CameraException($"the exposure {value} ms is outside {range.Minimum}..{range.Maximum} ms",
                        CameraException.HResults.InvalidArgument);
                Tarvik.SetExposure(_handle, value);
            });
        }
    }

    /// <summary>The master gain (camera units); setting sets every gain.</summary>
    public int Gain
    {
        get => Call(() => Tarvik.GetGain(_handle));
        set => Call(() =>
        {
            Tarvik.SetGain(_handle, value);
            if (Tarvik.GetGain(_handle) != value)
                throw new CameraException($"the camera refused the gain {value}", CameraException.HResults.InvalidArgument);
        });
    }

    /// <summary>The gamma last set here (the camera cannot be asked), or null.</summary>
    public int? Gamma
    {
        get => Call(() => _gamma);
        set
        {
            if (value is not int v) throw new ArgumentNullException(nameof(value));
            Call(() =>
            {
                Tarvik.SetGamma(_handle, v);
                _gamma = v;
            });
        }
    }

    /// <summary>Starts live capture (after the AOI is set).</summary>
    public void Start() => Call(() =>
    {
        int status = Tarvik.StartCapture(_handle);
        if (status != 0) throw new CameraException($"the camera did not start (status {status})");
        Running = true;
    });

    /// <summary>Stops live capture; a <see cref="Frames"/> loop ends.</summary>
    public void Stop()
    {
        Running = false;
        Call(() =>
        {
            int status = Tarvik.StopCurrentCapture(_handle);
            if (status != 0) throw new CameraException($"the camera did not stop (status {status})");
        });
    }

    private volatile bool _running;

    private bool Running
    {
        get => _running;
        set => _running = value;
    }

    /// <summary>The next frame (AOI width x height bytes), waiting up to a second on the camera's thread.
    /// Cancelling ends the wait at once (the capture in progress finishes there).</summary>
    /// <exception cref="CameraException">ERROR_TIMEOUT when no frame came.</exception>
    public Task<byte[]> CaptureAsync(CancellationToken cancellationToken = default)
    {
        if (cancellationToken.IsCancellationRequested) return Task.FromCanceled<byte[]>(cancellationToken);
        var capture = CallAsync(CaptureOn);
        return cancellationToken.CanBeCanceled ? capture.WaitAsync(cancellationToken) : capture;
    }

    private unsafe byte[] CaptureOn()
    {
        var aoi = AoiInfo().Current;
        long size = (long)aoi.Width * aoi.Height;
        if (aoi.Width <= 0 || aoi.Height <= 0 || size > int.MaxValue) throw new CameraException($"the AOI {aoi.Width}x{aoi.Height} cannot be captured");
        var frame = GC.AllocateUninitializedArray<byte>((int)size);
        fixed (byte* p = frame)
            if (Tarvik.CaptureFrameChecked(_handle, p, frame.Length) != 1)
                throw new CameraException("no frame came from the camera", CameraException.HResults.Timeout);
        return frame;
    }

    /// <summary>Frames until <see cref="Stop"/> or <see cref="Dispose"/>; a late frame is waited for.</summary>
    public async IAsyncEnumerable<byte[]> Frames([EnumeratorCancellation] CancellationToken cancellationToken = default)
    {
        for (;;)
        {
            if (_disposed || !Running) yield break;
            byte[] frame;
            try
            {
                frame = await CaptureAsync(cancellationToken).ConfigureAwait(false);
            }
            catch (ObjectDisposedException)
            {
                yield break;
            }
            catch (CameraException e) when (e.HResult == CameraException.HResults.Timeout)
            {
                continue;
            }
            if (_disposed || !Running) yield break;
            yield return frame;
        }
    }

    /// <summary>closeCamera's status once disposed (0 = ok).</summary>
    public int CloseStatus => _handle.CloseStatus;

    /// <summary>Closes the camera after the call in progress; disposing again does nothing.</summary>
    public void Dispose()
    {
        if (_disposed) return;
        _disposed = true;
        Running = false;
        _thread.Invoke(_handle.Dispose);
        _thread.Return();
    }

    /// <summary>As <see cref="Dispose"/>, without blocking the caller (nor a thread-pool thread).</summary>
    public async ValueTask DisposeAsync()
    {
        if (_disposed) return;
        _disposed = true;
        Running = false;
        await _thread.Run(_handle.Dispose).ConfigureAwait(false);
        _thread.Return();
    }
}
