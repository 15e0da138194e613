using System;
using System.Buffers;
using System.Collections.Generic;
using System.Runtime.CompilerServices;
using System.Threading;
using System.Threading.Tasks;
using CameraLibraries.Interop;

namespace CameraLibraries;

/// <summary>An open video device. Its calls run on the package's fenwyr thread; its grabs wait on a
/// thread of the device's own. Events are raised on the thread pool.</summary>
public sealed class VideoDevice : IDisposable, IAsyncDisposable
{
    // A grab waits in slices of this length, so that a cancelled one frees its thread soon.
    private const int GrabSliceMs = 50;
    // Waits before each recovery attempt, the last repeated: the library's own schedule.
    private static readonly int[] RecoveryDelaysMs = { 0, 1000, 2000, 4000, 8000, 16000, 30000 };

    private readonly WorkThread _fenwyr;
    private readonly WorkThread _grabs;
    private readonly CancellationTokenSource _closing = new();
    private volatile bool _disposed;
    private int _capacity;

    // The watch's view, touched on the fenwyr thread only.
    internal sealed class Seen
    {
        public DeviceState State;
        public bool Lost, Gone, Running, Awaiting;
        public int Attempts, Step, Recoveries;
        public long StartedAt, NextAttemptAt = long.MaxValue;
        public int StallMs;
        public bool Recover;
    }

    internal readonly Seen Watch = new();

    private VideoDevice(WorkThread fenwyr, VideoDeviceInfo info)
    {
        _fenwyr = fenwyr;
        Index = info.Index;
        Name = info.Name;
        Path = info.Path;
        _grabs = WorkThread.Rent();
    }

    /// <summary>The device's index.</summary>
    public int Index { get; }

    /// <summary>Its friendly name.</summary>
    public string Name { get; }

    /// <summary>Its device path, "" when it has none.</summary>
    public string Path { get; }

    /// <summary>The device was unplugged: frames stop.</summary>
    public event EventHandler<DeviceEventArgs>? Lost;

    /// <summary>A lost device is back: <see cref="Reopen"/> it (supervision with recovery does).</summary>
    public event EventHandler<DeviceEventArgs>? Returned;

    /// <summary>The stream failed.</summary>
    public event EventHandler<DeviceEventArgs>? Failed;

    /// <summary>No frame came for the stall time (see <see cref="Supervise"/>).</summary>
    public event EventHandler<DeviceEventArgs>? Stalled;

    /// <summary>Frames flow again after a stall or a recovery.</summary>
    public event EventHandler<DeviceEventArgs>? Recovered;

    /// <summary>Opens the device of that index (0 and above).</summary>
    /// <exception cref="ArgumentOutOfRangeException">For a negative index.</exception>
    /// <exception cref="CameraException">When there is no such device or it does not open.</exception>
    public static VideoDevice Open(int index)
    {
        if (index < 0) throw new ArgumentOutOfRangeException(nameof(index), index, "a device index is 0 or above");
        var thread = VideoDevices.Thread;
        return thread.Invoke(() => OpenOn(thread, index));
    }

    /// <summary>Opens the device of that path (ASCII case ignored) or else UTF-8 name.</summary>
    /// <exception cref="ArgumentException">For an empty text.</exception>
    public static VideoDevice Open(string pathOrName)
    {
        ArgumentNullException.ThrowIfNull(pathOrName);
        if (pathOrName.Length == 0) throw new ArgumentException("a device path or name is not empty", nameof(pathOrName));
        var thread = VideoDevices.Thread;
        return thread.Invoke(() =>
        {
            VideoDevices.Init();
            int index = VideoDevices.Find(pathOrName);
            if (index < 0) throw new CameraException($"no device has the path or name \"{pathOrName}\"", CameraException.HResults.InvalidArgument);
            return OpenOn(thread, index);
        });
    }

    /// <summary>As <see cref="Open(int)"/>, without blocking the caller.</summary>
    public static Task<VideoDevice> OpenAsync(int index)
    {
        if (index < 0) throw new ArgumentOutOfRangeException(nameof(index), index, "a device index is 0 or above");
        var thread = VideoDevices.Thread;
        return thread.Run(() => OpenOn(thread, index));
    }

    // One object per open device: opening it again gives the same one, opened anew when it was
    // lost or failed.
    private static VideoDevice OpenOn(WorkThread thread, int index)
    {
        VideoDevices.Init();
        var identity = VideoDevices.Identity(index)
            ?? throw new CameraException($"no device {index}", CameraException.HResults.InvalidArgument);
        var device = VideoDevices.Opened(index);
        var state = VideoDevices.StateOf(index);
        if (device is null || state == DeviceState.Lost || state == DeviceState.Failed)
        {
            if (Fenwyr.OpenDevice(index) != 1) throw new CameraException($"device {index} could not be opened");
        }
        if (device is null)
        {
            device = new VideoDevice(thread, identity);
            device.Watch.Recoveries = device.StatsOn().Recoveries;
            VideoDevices.Watch(device);
        }
        device.Settled();
        return device;
    }

    private void ThrowIfDisposed()
    {
        if (_disposed) throw new ObjectDisposedException($"video device {Index}");
    }

    private T Call<T>(Func<T> call)
    {
        ThrowIfDisposed();
        return _fenwyr.Invoke(call);
    }

    private void Call(Action call) => Call(() => { call(); return true; });

    private Task CallAsync(Action call)
    {
        if (_disposed) return Task.FromException(new ObjectDisposedException($"video device {Index}"));
        return _fenwyr.Run(call);
    }

    /// <summary>The state now (getDeviceState answers on any thread).</summary>
    public DeviceState State => _disposed ? DeviceState.Closed : VideoDevices.StateOf(Index);

    /// <summary>Every capability with its frame-rate range.</summary>
    public unsafe IReadOnlyList<VideoFormat> Formats => Call(() =>
    {
        int count = CameraException.Check(Fenwyr.GetFormats(Index, null, 0), "getFormats");
        var records = new FormatInfo[count];
        fixed (FormatInfo* p = records)
            count = Math.Min(count, CameraException.Check(Fenwyr.GetFormats(Index, p, count), "getFormats"));
        var list = new List<VideoFormat>(count);
        for (int k = 0; k < count; ++k)
        {
            var f = records[k];
            list.Add(new VideoFormat(f.Index, f.Width, f.Height, f.BitCount, PixelFormatOf(f.PixelFormat),
                FourCC.Text(f.FourCC), f.DefaultFps, f.MinFps, f.MaxFps));
        }
        return (IReadOnlyList<VideoFormat>)list;
    });

    internal static PixelFormat PixelFormatOf(int code) =>
        Enum.IsDefined(typeof(PixelFormat), code) ? (PixelFormat)code : PixelFormat.Other;

    /// <summary>The format flowing now.</summary>
    public unsafe StreamFormat Format => Call(() => FormatOn() ?? throw new CameraException($"device {Index} has no connected format"));

    private unsafe StreamFormat? FormatOn()
    {
        ResolutionInfo* r = Fenwyr.GetResolution(Index);
        if (r == null) throw new CameraException("getResolution", CameraException.HResults.OutOfMemory);
        try
        {
            if (r->Index == -1 && r->Width == 1) return null;
            return new StreamFormat(r->Width, Math.Abs(r->Height), r->BitCount, r->FramesPerSecond, PixelFormatOf(r->PixelFormat));
        }
        finally
        {
            System.Runtime.InteropServices.Marshal.FreeCoTaskMem((nint)r);
        }
    }

    /// <summary>Selects a capability (an index of <see cref="Formats"/>) at a frame rate (0: its default).
    /// While the device runs it restarts with the new format.</summary>
    public void SetFormat(int capability, double fps = 0)
    {
        CheckFps(fps);
        if (capability < 0) throw new ArgumentOutOfRangeException(nameof(capability), capability, "a capability index is 0 or above");
        Call(() =>
        {
            CameraException.Check(Fenwyr.SetFormat(Index, capability, fps), $"setFormat({capability}, {fps})");
            Settled();
        });
    }

    /// <summary>Selects the capability that serves a request, the one needing the least bandwidth among
    /// those that meet it; 0 (or null) is "any". Returns the capability's index.</summary>
    /// <exception cref="CameraException">E_INVALIDARG when no capability meets it.</exception>
    public int SetFormat(int width, int height, double fps, string? fourcc)
    {
        if (width < 0) throw new ArgumentOutOfRangeException(nameof(width), width, "a width is 0 (any) or above");
        if (height < 0) throw new ArgumentOutOfRangeException(nameof(height), height, "a height is 0 (any) or above");
        CheckFps(fps);
        int code = fourcc is null ? 0 : FourCC.Code(fourcc, nameof(fourcc));
        return Call(() =>
        {
            int index = Fenwyr.ChooseFormat(Index, width, height, fps, code);
            if (index < 0)
                throw new CameraException($"no capability of device {Index} is {width}x{height} at {fps} fps {fourcc}",
                    CameraException.HResults.InvalidArgument);
            CameraException.Check(Fenwyr.SetFormat(Index, index, fps), $"setFormat({index}, {fps})");
            Settled();
            return index;
        });
    }

    private static void CheckFps(double fps)
    {
        if (!double.IsFinite(fps) || fps < 0)
            throw new ArgumentOutOfRangeException(nameof(fps), fps, "fps is 0 (the default) or above");
    }

    /// <summary>The controls the device has.</summary>
    public IReadOnlyList<ControlSetting> Controls => Call(() =>
    {
        var list = new List<ControlSetting>();
        foreach (CameraControl c in Enum.GetValues<CameraControl>())
            if (ReadControl(c, mustExist: false) is { } s) list.Add(s);
        return (IReadOnlyList<ControlSetting>)list;
    });

    /// <summary>One control.</summary>
    /// <exception cref="CameraException">E_PROP_ID_UNSUPPORTED when the device lacks it.</exception>
    public ControlSetting GetControl(CameraControl control)
    {
        CheckControl(control);
        return Call(() => ReadControl(control, mustExist: true)!);
    }

    /// <summary>Sets a control to a value, in manual mode.</summary>
    /// <exception cref="CameraException">E_INVALIDARG for a value outside the range or off its steps.</exception>
    public void SetControl(CameraControl control, int value)
    {
        CheckControl(control);
        Call(() => CameraException.Check(Fenwyr.SetControl(Index, (int)control, value, 2), $"setControl({control}, {value})"));
    }

    /// <summary>Sets a control to automatic.</summary>
    public void SetControlAuto(CameraControl control)
    {
        CheckControl(control);
        Call(() => CameraException.Check(Fenwyr.SetControl(Index, (int)control, 0, 1), $"setControl({control}, auto)"));
    }

    private static void CheckControl(CameraControl control)
    {
        if (!Enum.IsDefined(control)) throw new ArgumentOutOfRangeException(nameof(control), control, "no such control");
    }

    private unsafe ControlSetting? ReadControl(CameraControl control, bool mustExist)
    {
        ControlInfo info;
        int hr = Fenwyr.GetControl(Index, (int)control, &info);
        if (!mustExist && hr == CameraException.HResults.PropertyUnsupported) return null;
        CameraException.Check(hr, $"control {control}");
        return new ControlSetting(control, info.Min, info.Max, info.Step, info.DefaultValue, info.Value,
            info.Flags == 1, (info.CapsFlags & 1) != 0, (info.CapsFlags & 2) != 0);
    }

    /// <summary>What the device's frames become, from the next frame on.</summary>
    public OutputFormat Output
    {
        get
        {
            ThrowIfDisposed();
            return (OutputFormat)Fenwyr.GetOutputFormat(Index);  // any thread
        }
        set
        {
            if (!Enum.IsDefined(value)) throw new ArgumentOutOfRangeException(nameof(value), value, "no such output");
            ThrowIfDisposed();
            CameraException.Check(Fenwyr.SetOutputFormat(Index, (int)value), $"output of device {Index}");
        }
    }

    /// <summary>Runs the device.</summary>
    public void Start() => Call(StartOn);

    /// <summary>As <see cref="Start"/>, without blocking the caller.</summary>
    public Task StartAsync() => CallAsync(StartOn);

    private void StartOn()
    {
        CameraException.Check(Fenwyr.StartCapture(Index), $"start device {Index}");
        Watch.StartedAt = Environment.TickCount64;
        Settled();
    }

    /// <summary>Stops the device; a waiting grab ends with VFW_E_NOT_RUNNING, a <see cref="Frames"/> loop ends.</summary>
    public void Stop() => Call(StopOn);

    /// <summary>As <see cref="Stop"/>, without blocking the caller.</summary>
    public Task StopAsync() => CallAsync(StopOn);

    private void StopOn()
    {
        CameraException.Check(Fenwyr.StopCapture(Index), $"stop device {Index}");
        Settled();
    }

    /// <summary>Builds the device's graph again (after <see cref="Returned"/>); stopped afterwards.</summary>
    public void Reopen() => Call(() =>
    {
        if (Fenwyr.OpenDevice(Index) != 1) throw new CameraException($"device {Index} could not be opened");
        Settled();
    });

    /// <summary>Rebuilds the device as it was (format, output, controls, running) now.</summary>
    /// <exception cref="CameraException">ERROR_DEVICE_NOT_CONNECTED while it is absent.</exception>
    public void Recover() => Call(() => CameraException.Check(Fenwyr.RecoverDevice(Index), $"recover device {Index}"));

    /// <summary>Stall detection (<paramref name="stallTime"/> zero: off, else 100 ms to 600 s) and, with
    /// <paramref name="recover"/>, the device rebuilt as it was by the package after a stall, a failure, or
    /// the return of a device lost while running: at once, then after 1, 2, 4, 8, 16 and every 30 s.</summary>
    public void Supervise(TimeSpan stallTime, bool recover = true)
    {
        double ms = stallTime.TotalMilliseconds;
        if (ms != 0 && (ms < 100 || ms > 600000))
            throw new ArgumentOutOfRangeException(nameof(stallTime), stallTime, "zero (off) or 100 ms to 600 s");
        Call(() =>
        {
            CameraException.Check(Fenwyr.SetSupervision(Index, (int)ms, 0), $"setSupervision({(int)ms})");
            Watch.StallMs = (int)ms;
            Watch.Recover = ms != 0 && recover;
            Watch.Recoveries = StatsOn().Recoveries;
            if (!Watch.Recover) StopAttempts();
        });
    }

    /// <summary>What the stream has done since the open.</summary>
    public StreamStats Stats
    {
        get
        {
            ThrowIfDisposed();
            return StatsOn();  // any thread
        }
    }

    private unsafe StreamStats StatsOn()
    {
        StreamStatsRecord s;
        CameraException.Check(Fenwyr.GetStreamStats(Index, &s), "getStreamStats");
        return new StreamStats(s.Frames, s.Missed, s.LastFrameTime, s.Stalls, s.Recoveries, s.FailedAttempts, s.Dropped);
    }

    /// <summary>The driver's property dialog, modal; returns when it closes.</summary>
    public Task ShowPropertiesAsync() => CallAsync(() => CameraException.Check(Fenwyr.ShowFilterProperties(Index), "showFilterProperties"));

    /// <summary>The capture pin's property dialog, modal; returns when it closes.</summary>
    public Task ShowPinPropertiesAsync() => CallAsync(() => CameraException.Check(Fenwyr.ShowCapturePinProperties(Index), "showCapturePinProperties"));

    /// <summary>As <see cref="GrabAsync(TimeSpan, CancellationToken)"/>, waiting up to a second.</summary>
    public Task<Frame?> GrabAsync(CancellationToken cancellationToken = default) => GrabAsync(TimeSpan.FromSeconds(1), cancellationToken);

    /// <summary>The newest frame not yet taken, or null when none came within <paramref name="timeout"/>.
    /// Cancelling ends the wait at once. The caller disposes the frame.</summary>
    /// <exception cref="CameraException">VFW_E_NOT_RUNNING when the device is stopped.</exception>
    public Task<Frame?> GrabAsync(TimeSpan timeout, CancellationToken cancellationToken = default)
    {
        double ms = timeout.TotalMilliseconds;
        if (ms < 0 || ms > int.MaxValue) throw new ArgumentOutOfRangeException(nameof(timeout), timeout, "0 to 24 days");
        ThrowIfDisposed();
        if (cancellationToken.IsCancellationRequested) return Task.FromCanceled<Frame?>(cancellationToken);
        var done = new TaskCompletionSource<Frame?>(TaskCreationOptions.RunContinuationsAsynchronously);
        var linked = CancellationTokenSource.CreateLinkedTokenSource(cancellationToken, _closing.Token);
        var registration = linked.Token.Register(() =>
        {
            if (_closing.IsCancellationRequested && !cancellationToken.IsCancellationRequested)
                done.TrySetException(new ObjectDisposedException($"video device {Index}"));
            else
                done.TrySetCanceled(cancellationToken);
        });
        _ = done.Task.ContinueWith(_ => { registration.Dispose(); linked.Dispose(); }, TaskScheduler.Default);
        _grabs.Run(() => Grab((int)ms, done)).ContinueWith(t => done.TrySetException(t.Exception!.InnerExceptions),
            TaskContinuationOptions.OnlyOnFaulted);
        return done.Task;
    }

    // On the grab thread: waits in slices, into memory from the pool, until a frame, the time-out,
    // an error or the caller gave up.
    private unsafe void Grab(int timeoutMs, TaskCompletionSource<Frame?> done)
    {
        long deadline = Environment.TickCount64 + timeoutMs;
        for (;;)
        {
            if (done.Task.IsCompleted) return;
            if (_capacity == 0) _capacity = FirstCapacity();
            int slice = (int)Math.Clamp(deadline - Environment.TickCount64, 0, GrabSliceMs);
            byte[] buffer = ArrayPool<byte>.Shared.Rent(_capacity);
            FrameInfo info;
            int hr;
            fixed (byte* p = buffer)
                hr = Fenwyr.GrabFrame(Index, p, buffer.Length, &info, slice);
            if (hr >= 0)
            {
                // Sizes from the device: checked before the frame is trusted with them.
                if (info.Length < 0 || info.Length > buffer.Length)
                {
                    ArrayPool<byte>.Shared.Return(buffer);
                    done.TrySetException(new CameraException($"grabFrame on device {Index} gave a frame of {info.Length} bytes",
                        CameraException.HResults.Unexpected));
                    return;
                }
                var frame = new Frame(buffer, info);
                if (!done.TrySetResult(frame)) frame.Dispose();
                return;
            }
            ArrayPool<byte>.Shared.Return(buffer);
            if (hr == CameraException.HResults.InsufficientBuffer && info.Length > _capacity)
            {
                _capacity = info.Length;
                continue;
            }
            if (hr == CameraException.HResults.Timeout)
            {
                if (Environment.TickCount64 >= deadline) { done.TrySetResult(null); return; }
                continue;
            }
            done.TrySetException(new CameraException($"grabFrame on device {Index}", hr));
            return;
        }
    }

    // A first guess at a frame's size: an uncompressed frame's; a larger frame grows it.
    private int FirstCapacity()
    {
        try
        {
            var f = _fenwyr.Invoke(FormatOn);
            if (f is null) return 1 << 20;
            long size = ((long)f.Width * Math.Max(f.BitCount, 32) + 31) / 32 * 4 * f.Height;
            return (int)Math.Clamp(size, 4096, 1L << 30);
        }
        catch (Exception)
        {
            return 1 << 20;
        }
    }

    /// <summary>Frames as they come, until the device is stopped or disposed (the sequence ends), lost or
    /// failed (CameraException ERROR_DEVICE_NOT_CONNECTED or E_FAIL; with <see cref="Supervise"/> and recovery it
    /// waits instead). The caller disposes each frame.</summary>
    public async IAsyncEnumerable<Frame> Frames([EnumeratorCancellation] CancellationToken cancellationToken = default)
    {
        for (;;)
        {
            if (_disposed) yield break;
            cancellationToken.ThrowIfCancellationRequested();
            Frame? frame;
            try
            {
                frame = await GrabAsync(TimeSpan.FromSeconds(1), cancellationToken).ConfigureAwait(false);
            }
            catch (ObjectDisposedException)
            {
                yield break;
            }
            catch (CameraException e) when (e.HResult == CameraException.HResults.NotRunning)
            {
                if (_disposed) yield break;
                var state = await _fenwyr.Run(() => VideoDevices.StateOf(Index)).ConfigureAwait(false);
                bool recovering = await _fenwyr.Run(() => Watch.Recover && Watch.Running).ConfigureAwait(false);
                if (recovering && state != DeviceState.Stopped && state != DeviceState.Closed)
                {
                    await Task.Delay(100, cancellationToken).ConfigureAwait(false);
                    continue;
                }
                if (state == DeviceState.Lost)
                    throw new CameraException($"device {Index} was lost", CameraException.HResults.DeviceNotConnected);
                if (state == DeviceState.Failed) throw new CameraException($"device {Index} failed");
                yield break;
            }
            if (frame != null) yield return frame;
        }
    }

    // ---- The watch (fenwyr thread) ----

    // What the watch knows after a call of the host's own changed the state: no event for it.
    private void Settled()
    {
        var state = VideoDevices.StateOf(Index);
        Watch.State = state;
        Watch.Lost = Watch.Gone = false;
        Watch.Running = state == DeviceState.Running || state == DeviceState.Stalled;
        if (!Watch.Running) StopAttempts();
    }

    private void StopAttempts()
    {
        Watch.Attempts = Watch.Step = 0;
        Watch.Awaiting = false;
        Watch.NextAttemptAt = long.MaxValue;
    }

    private void ScheduleAttempt()
    {
        Watch.Awaiting = false;
        if (Watch.NextAttemptAt == long.MaxValue) Watch.NextAttemptAt = Environment.TickCount64 + RecoveryDelaysMs[Watch.Step];
    }

    private void Raise(EventHandler<DeviceEventArgs>? handler, DeviceState state, int detail)
    {
        if (handler is null) return;
        var args = new DeviceEventArgs(state, detail);
        ThreadPool.QueueUserWorkItem(_ => handler(this, args));
    }

    internal void Poll()
    {
        var w = Watch;
        long now = Environment.TickCount64;
        if (w.NextAttemptAt <= now)
        {
            w.NextAttemptAt = long.MaxValue;
            if (w.Recover && w.Running)
            {
                ++w.Attempts;
                w.Step = Math.Min(w.Step + 1, RecoveryDelaysMs.Length - 1);
                if (Fenwyr.RecoverDevice(Index) >= 0) w.Awaiting = true;
                else ScheduleAttempt();
            }
        }
        var state = VideoDevices.StateOf(Index);
        // Frames came from a recovered graph (the count is raised before the state changes).
        if (w.StallMs != 0 && w.Attempts > 0)
        {
            int recoveries = StatsOn().Recoveries;
            if (recoveries > w.Recoveries)
            {
                int attempts = w.Attempts;
                StopAttempts();
                w.Recoveries = recoveries;
                w.State = state;
                w.Lost = w.Gone = false;
                Raise(Recovered, state, attempts);
                return;
            }
        }
        if (state == w.State) return;
        var was = w.State;
        w.State = state;
        bool recovering = w.Recover && w.Running;
        if (w.Lost)
        {
            if (state == DeviceState.Absent) w.Gone = true;
            else if (w.Gone)
            {
                w.Lost = w.Gone = false;
                if (recovering) ScheduleAttempt();
                Raise(Returned, state, 0);
            }
        }
        else if (state == DeviceState.Lost)
        {
            w.Lost = true;
            Raise(Lost, state, 0);
        }
        else if (state == DeviceState.Failed)
        {
            if (recovering) ScheduleAttempt();
            Raise(Failed, state, 0);
        }
        else if (state == DeviceState.Stalled)
        {
            if (recovering) ScheduleAttempt();
            var stats = StatsOn();
            long silent = stats.LastFrameTime == 0 ? now - w.StartedAt : (NowIn100ns() - stats.LastFrameTime) / 10000;
            Raise(Stalled, state, (int)Math.Clamp(silent, 0, int.MaxValue));
        }
        else if (was == DeviceState.Stalled && state == DeviceState.Running && !w.Awaiting)
        {
            StopAttempts();
            Raise(Recovered, state, 0);
        }
    }

    // QueryPerformanceCounter in 100 ns units, the clock of FrameInfo.arrivalTime.
    private static long NowIn100ns()
    {
        long ticks = System.Diagnostics.Stopwatch.GetTimestamp();
        return (long)((System.Numerics.BigInteger)ticks * 10_000_000 / System.Diagnostics.Stopwatch.Frequency);
    }

    // ---- Closing ----

    /// <summary>Stops the device and ends its grabs and events (its graph is kept until
    /// <see cref="VideoDevices.Shutdown"/>). A waiting grab ends, a <see cref="Frames"/> loop ends. Disposing again does nothing.</summary>
    public void Dispose() => Dispose(_fenwyr);

    /// <summary>As <see cref="Dispose()"/>, without blocking the caller (nor a thread-pool thread).</summary>
    public async ValueTask DisposeAsync()
    {
        if (!BeginDispose()) return;
        await _fenwyr.Run(CloseOn).ConfigureAwait(false);
        _grabs.Return();
    }

    internal void Dispose(WorkThread fenwyr)
    {
        if (!BeginDispose()) return;
        fenwyr.Invoke(CloseOn);
        // A grab in progress has been answered already; its wait ends within a slice.
        _grabs.Return();
    }

    private bool BeginDispose()
    {
        lock (_closing)
        {
            if (_disposed) return false;
            _disposed = true;
        }
        _closing.Cancel();
        return true;
    }

    private void CloseOn()
    {
        VideoDevices.Unwatch(this);
        StopAttempts();
        if (Watch.StallMs != 0) Fenwyr.SetSupervision(Index, 0, 0);
        var state = VideoDevices.StateOf(Index);
        if (state == DeviceState.Running || state == DeviceState.Stalled) Fenwyr.StopCapture(Index);
    }
}
