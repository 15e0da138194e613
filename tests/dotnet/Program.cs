using System;
using System.Buffers.Binary;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Threading;
using System.Threading.Tasks;
using CameraLibraries;
using CameraLibraries.Interop;

// The .NET package against the real DLLs, the simulated camera API and the virtual capture
// device, in one process: CAMERA_LIBRARIES_DIR names the build's bin folder (vcam.dll),
// CAMERA_LIBRARIES_SOURCE the source tree (the README).
internal static class Program
{
    private const string Controls = "brightness=-64..64/2:0:manual;contrast=0..100/1:50:auto,manual;exposure=-13..-1/1:-6:auto,manual";
    private static VirtualDevices _devices = null!;

    private static async Task<int> Main()
    {
        Console.WriteLine("CameraLibraries tests: starting");
        string bin = Environment.GetEnvironmentVariable("CAMERA_LIBRARIES_DIR") ?? AppContext.BaseDirectory;
        _devices = new VirtualDevices(Path.Combine(bin, "vcam.dll"));
        _devices.Add("DotnetA", "Dotnet Camera A", "640x480@5-60 YUY2;320x240@30 RGB24", 0x2a,
            @"\\?\usb#vid_1234&pid_000a#dotnet_a", Controls);
        _devices.Add("DotnetB", "Dotnet Camera B ✓", "320x240@30 YUY2", 0x2b, @"\\?\usb#dotnet_b");
        _devices.Add("DotnetC", "Dotnet Camera C", "160x120@30 YUY2", 0x2c, @"\\?\usb#dotnet_c");
        var tests = new (string Name, Func<Task> Run)[]
        {
            ("records have the C headers' sizes and offsets", Sizes),
            ("devices are listed and opened by index, path or name; bad arguments never reach the library", ListAndOpen),
            ("formats, formats by constraints and controls; refused settings are CameraExceptions", FormatsAndControls),
            ("native frames and pictures come through Frames() in pooled memory", FramesAndPictures),
            ("cancelling a grab ends it at once", CancelGrab),
            ("disposing the device during Frames() ends the loop cleanly", DisposeDuringFrames),
            ("unplugging and returning the device raise Lost and Returned", LostAndReturned),
            ("the industrial camera's settings read back, and a refused one is E_INVALIDARG", CameraSettings),
            ("the industrial camera's frames through CaptureAsync and Frames()", CameraFrames),
            ("the camera's handle is closed by the finaliser too", CameraFinaliser),
            ("many open/close cycles leave no handles or memory behind", Cycles),
            ("the README's examples run as written", ReadmeExamples),
        };
        int passed = 0, failed = 0;
        foreach (var (name, run) in tests)
        {
            var started = Stopwatch.StartNew();
            try
            {
                await Check.Within(run(), 60000, name);
                ++passed;
                Console.WriteLine($"ok - {name} ({started.ElapsedMilliseconds} ms)");
            }
            catch (Exception e)
            {
                ++failed;
                Console.WriteLine($"not ok - {name}: {e}");
            }
        }
        VideoDevices.Shutdown();
        _devices.Dispose();
        Console.WriteLine($"{passed} passed, {failed} failed");
        return failed == 0 ? 0 : 1;
    }

    private static unsafe Task Sizes()
    {
        // From fenwyr.h and tarvik.h: size, then field offsets.
        void Layout<T>(int size, params (string Field, int Offset)[] fields) where T : unmanaged
        {
            Check.Equal(size, sizeof(T), $"sizeof({typeof(T).Name})");
            Check.Equal(size, Marshal.SizeOf<T>(), $"Marshal.SizeOf<{typeof(T).Name}>");
            foreach (var (field, offset) in fields)
                Check.Equal(offset, (int)Marshal.OffsetOf<T>(field), $"{typeof(T).Name}.{field}");
        }
        Layout<DeviceInfo>(132, ("Name", 4));
        Layout<ResolutionInfo>(24, ("FramesPerSecond", 16), ("PixelFormat", 20));
        Layout<FrameInfo>(64, ("Length", 24), ("SampleTime", 32), ("Sequence", 48), ("Dropped", 56));
        Layout<DeviceIdentity>(772, ("Path", 260));
        Layout<FormatInfo>(48, ("DefaultFps", 24), ("MaxFps", 40));
        Layout<ControlInfo>(28, ("Flags", 24));
        Layout<StreamStatsRecord>(40, ("Stalls", 24), ("Dropped", 36));
        Layout<AoiRect>(16, ("Width", 8), ("Height", 12));
        Layout<AoiSize>(8, ("Height", 4));
        Layout<AoiInfoRecord>(40, ("Minimum", 16), ("Maximum", 24), ("Increment", 32));
        Layout<RangeRecord>(24, ("Step", 16));
        return Task.CompletedTask;
    }

    private static int IndexOf(string name) => VideoDevices.List().Single(d => d.Name == name).Index;

    private static Task ListAndOpen()
    {
        var list = VideoDevices.List().Where(d => d.Name.StartsWith("Dotnet")).ToList();
        Check.Equal("Dotnet Camera A|Dotnet Camera B ✓|Dotnet Camera C", string.Join("|", list.Select(d => d.Name)), "names");
        Check.Equal(@"\\?\usb#vid_1234&pid_000a#dotnet_a", list[0].Path, "path");
        Check.True(list.All(d => d.State == DeviceState.Closed), "all closed");
        Check.Equal(ApartmentState.STA, VideoDevices.Thread.Invoke(() => Thread.CurrentThread.GetApartmentState()),
            "fenwyr's thread's apartment");
        using var byPath = VideoDevice.Open(@"\\?\USB#DOTNET_B");
        using var byName = VideoDevice.Open("Dotnet Camera B ✓");
        Check.True(ReferenceEquals(byPath, byName), "one object per device");
        Check.Equal(list[1].Index, byPath.Index, "index by path");
        Check.Equal(DeviceState.Stopped, byPath.State, "state after open");
        Check.Equal("Dotnet Camera B ✓", VideoDevice.Open(list[1].Index).Name, "by index");
        Check.Throws<ArgumentOutOfRangeException>(() => VideoDevice.Open(-1), "negative index");
        Check.Throws<ArgumentException>(() => VideoDevice.Open(""), "empty name");
        Check.HResult(CameraException.HResults.InvalidArgument, () => VideoDevice.Open(63), "no such device");
        Check.Throws<CameraException>(() => VideoDevice.Open("no such camera"), "no such name");
        byPath.Dispose();
        Check.Throws<ObjectDisposedException>(() => _ = byPath.Formats, "after dispose");
        Check.Throws<ObjectDisposedException>(() => byPath.Start(), "start after dispose");
        Check.Equal(DeviceState.Stopped, VideoDevices.List()[list[1].Index].State, "stopped by dispose, graph kept");
        return Task.CompletedTask;
    }

    private static Task FormatsAndControls()
    {
        using var a = VideoDevice.Open("Dotnet Camera A");
        var formats = a.Formats;
        Check.Equal(2, formats.Count, "formats");
        Check.Equal((0, 640, 480, 16, PixelFormat.Yuy2, "YUY2"), (formats[0].Index, formats[0].Width, formats[0].Height,
            formats[0].BitCount, formats[0].PixelFormat, formats[0].FourCC), "first format");
        Check.True(Math.Abs(formats[0].MinFps - 5) < 0.01 && Math.Abs(formats[0].MaxFps - 60) < 0.01, "its rates 5 to 60");
        Check.Equal((320, 240, 24, PixelFormat.Rgb24, ""), (formats[1].Width, formats[1].Height, formats[1].BitCount,
            formats[1].PixelFormat, formats[1].FourCC), "second format");
        a.SetFormat(1);
        Check.Equal((320, 240, 24), (a.Format.Width, a.Format.Height, a.Format.BitCount), "format set by index");
        a.SetFormat(0, 15);
        Check.True(Math.Abs(a.Format.Fps - 15) < 0.01, $"15 fps, not {a.Format.Fps}");
        Check.Equal(1, a.SetFormat(320, 240, 0, null), "chosen by size");
        Check.Equal(0, a.SetFormat(0, 0, 50, "YUY2"), "chosen by rate and FOURCC");
        Check.HResult(CameraException.HResults.InvalidArgument, () => a.SetFormat(1920, 1080, 0, null), "no such size");
        Check.Throws<ArgumentException>(() => a.SetFormat(640, 480, 0, "YUY"), "a short FOURCC");

        var controls = a.Controls;
        Check.Equal("Brightness,Contrast,Exposure", string.Join(",", controls.Select(c => c.Control)), "controls");
        Check.Equal(new ControlSetting(CameraControl.Brightness, -64, 64, 2, 0, 0, false, false, true), controls[0], "brightness");
        a.SetControl(CameraControl.Brightness, 10);
        Check.Equal(10, a.GetControl(CameraControl.Brightness).Value, "brightness set");
        a.SetControlAuto(CameraControl.Contrast);
        Check.True(a.GetControl(CameraControl.Contrast).IsAuto, "contrast auto");
        // Refused by the library, with its HRESULT; what .NET can judge never reaches it.
        Check.HResult(CameraException.HResults.InvalidArgument, () => a.SetControl(CameraControl.Brightness, 11), "off its steps");
        Check.HResult(CameraException.HResults.InvalidArgument, () => a.SetControlAuto(CameraControl.Brightness), "no auto");
        Check.HResult(CameraException.HResults.PropertyUnsupported, () => a.GetControl(CameraControl.Zoom), "no zoom");
        Check.HResult(CameraException.HResults.InvalidArgument, () => a.SetFormat(0, 100), "fps out of range");
        Check.HResult(CameraException.HResults.InvalidArgument, () => a.SetFormat(5), "no capability 5");
        Check.Throws<ArgumentOutOfRangeException>(() => a.SetFormat(-1), "negative capability");
        Check.Throws<ArgumentOutOfRangeException>(() => a.SetFormat(0, double.NaN), "NaN fps");
        Check.Throws<ArgumentOutOfRangeException>(() => a.SetControl((CameraControl)77, 0), "unknown control");
        Check.Equal(10, a.GetControl(CameraControl.Brightness).Value, "kept after refusals");
        return Task.CompletedTask;
    }

    private static async Task FramesAndPictures()
    {
        await using var a = VideoDevice.Open("Dotnet Camera A");
        a.SetFormat(0, 30);
        a.Output = OutputFormat.Native;
        await a.StartAsync();
        var frames = new List<Frame>();
        await foreach (var frame in a.Frames())
        {
            frames.Add(frame);
            if (frames.Count == 5) break;
        }
        var first = frames[0];
        Check.Equal((640, 480, 1280, "YUY2", PixelFormat.Yuy2, false, 640 * 480 * 2),
            (first.Width, first.Height, first.Stride, first.FourCC, first.PixelFormat, first.BottomUp, first.Length), "native frame");
        for (int k = 0; k < frames.Count; ++k)
        {
            Check.Equal(0x2au, BinaryPrimitives.ReadUInt32LittleEndian(frames[k].Span.Slice(4)), "the device's Tag");
            if (k > 0) Check.True(frames[k].Sequence > frames[k - 1].Sequence, "sequence rises");
            if (k > 0) Check.True(frames[k].ArrivalTime > frames[k - 1].ArrivalTime, "arrival time rises");
        }
        foreach (var f in frames) f.Dispose();
        Check.Equal(0, first.Data.Length, "a disposed frame is empty");
        first.Dispose();

        a.Output = OutputFormat.Bgra32;
        Check.Equal(OutputFormat.Bgra32, a.Output, "output");
        await foreach (var picture in a.Frames())
        {
            using (picture)
            {
                if (picture.PixelFormat == PixelFormat.Yuy2) continue;  // taken before the change
                Check.Equal((640, 480, 640 * 4, "", PixelFormat.Rgb32, 640 * 480 * 4, false), (picture.Width, picture.Height,
                    picture.Stride, picture.FourCC, picture.PixelFormat, picture.Length, picture.BottomUp), "BGRA picture");
                Check.Equal((byte)255, picture.Span[3], "alpha");
            }
            break;
        }
        a.Output = OutputFormat.Gray8;
        using (var gray = await a.GrabAsync(TimeSpan.FromSeconds(5)) ?? throw new Exception("no gray picture"))
            Check.Equal((PixelFormat.Gray8, 640 * 480), (gray.PixelFormat, gray.Length), "gray picture");
        a.Output = OutputFormat.Native;
        await a.StopAsync();
        // Stopped: the loop ends (a frame not yet taken may be left).
        int left = 0;
        await foreach (var frame in a.Frames()) using (frame) ++left;
        Check.True(left <= 1, $"{left} frames after the stop");
        await Check.ThrowsAsync<CameraException>(() => a.GrabAsync(TimeSpan.Zero), "a grab on a stopped device");
    }

    private static async Task CancelGrab()
    {
        using var c = VideoDevice.Open("Dotnet Camera C");
        c.Start();
        using (await c.GrabAsync(TimeSpan.FromSeconds(5))) { }
        _devices.SetDword("DotnetC", "Frozen", 1);
        await Task.Delay(200);
        while (await c.GrabAsync(TimeSpan.Zero) is { } late) late.Dispose();
        using var cancel = new CancellationTokenSource();
        var grab = c.GrabAsync(TimeSpan.FromSeconds(30), cancel.Token);
        await Task.Delay(200);
        Check.True(!grab.IsCompleted, "the grab waits for a frame");
        var cancelled = Stopwatch.StartNew();
        cancel.Cancel();
        await Check.ThrowsAsync<OperationCanceledException>(() => grab, "the cancelled grab");
        Check.True(cancelled.ElapsedMilliseconds < 1000, $"ended {cancelled.ElapsedMilliseconds} ms after the cancel, not at once");
        Check.True((await Check.ThrowsAsync<OperationCanceledException>(() => c.GrabAsync(cancel.Token), "cancelled before")).CancellationToken == cancel.Token, "its token");
        _devices.SetDword("DotnetC", "Frozen", 0);
        using var next = await c.GrabAsync(TimeSpan.FromSeconds(5));
        Check.True(next != null, "the grab thread is free for the next grab");
        c.Stop();
    }

    private static async Task DisposeDuringFrames()
    {
        var b = VideoDevice.Open("Dotnet Camera B ✓");
        b.Start();
        int count = 0;
        var firstFrames = new TaskCompletionSource();
        var loop = Task.Run(async () =>
        {
            await foreach (var frame in b.Frames())
            {
                frame.Dispose();
                if (++count == 3) firstFrames.SetResult();
            }
        });
        await Check.Within(firstFrames.Task, 10000, "three frames");
        await b.DisposeAsync();
        await Check.Within(loop, 3000, "the loop's end after the dispose");
        Check.Equal(DeviceState.Stopped, VideoDevices.List()[b.Index].State, "stopped by dispose");
        await Check.ThrowsAsync<ObjectDisposedException>(() => b.GrabAsync(), "a grab after dispose");
    }

    private static async Task LostAndReturned()
    {
        var b = VideoDevice.Open("Dotnet Camera B ✓");
        var lost = new TaskCompletionSource<DeviceEventArgs>();
        var returned = new TaskCompletionSource<DeviceEventArgs>();
        int poolThreads = 0;
        b.Lost += (sender, e) =>
        {
            if (Thread.CurrentThread.IsThreadPoolThread) ++poolThreads;
            lost.TrySetResult(e);
        };
        b.Returned += (_, e) => returned.TrySetResult(e);
        b.Start();
        using (await b.GrabAsync(TimeSpan.FromSeconds(5))) { }
        _devices.SetDword("DotnetB", "Unplugged", 1);
        await Check.Within(lost.Task, 3000, "Lost");
        Check.Equal(DeviceState.Lost, lost.Task.Result.State, "state with Lost");
        Check.Equal(1, poolThreads, "raised on the thread pool");
        var ended = await Check.ThrowsAsync<CameraException>(async () =>
        {
            await foreach (var frame in b.Frames()) frame.Dispose();
        }, "Frames() of a lost device");
        Check.Equal(CameraException.HResults.DeviceNotConnected, ended.HResult, "why Frames() ended");
        _devices.Remove("DotnetB");
        await Task.Delay(1200);
        _devices.Add("DotnetB", "Dotnet Camera B ✓", "320x240@30 YUY2", 0x2b, @"\\?\usb#dotnet_b");
        await Check.Within(returned.Task, 8000, "Returned");
        b.Reopen();
        Check.Equal(DeviceState.Stopped, b.State, "reopened");
        b.Start();
        using (var frame = await b.GrabAsync(TimeSpan.FromSeconds(5)))
            Check.True(frame != null, "frames after the return");
        b.Dispose();
    }

    private static Task CameraSettings()
    {
        using var camera = IndustrialCamera.Open();
        Check.True(camera.Id is >= 0 and <= 255, "id");
        Check.True(camera.Serial.Length > 0 && camera.Serial.All(char.IsDigit), $"serial \"{camera.Serial}\"");
        var clocks = camera.PixelClocks;
        Check.True(clocks.Count > 1 && clocks.Contains(camera.PixelClock), "pixel clocks");
        var limits = camera.AoiLimits;
        Check.True(limits.MinWidth > 0 && limits.MaxWidth >= limits.MinWidth && limits.WidthStep > 0, "AOI limits");
        Check.Equal(null, camera.Gamma, "gamma before it is set");

        var aoi = new Aoi(16, 8, 320, 240);
        camera.Aoi = aoi;
        camera.PixelClock = clocks[0];
        Check.Equal((aoi, clocks[0]), (camera.Aoi, camera.PixelClock), "AOI and clock read back");
        camera.PixelClock = clocks[^1];
        double fps = camera.FpsRange.Minimum * 2;
        camera.Fps = fps;
        Check.True(Math.Abs(camera.Fps - fps) < 0.5, $"fps {camera.Fps} for {fps}");
        var range = camera.ExposureRange;
        double exposure = range.Minimum + (range.Maximum - range.Minimum) / 4;
        camera.Exposure = exposure;
        Check.True(Math.Abs(camera.Exposure - exposure) <= range.Step, $"exposure {camera.Exposure} for {exposure}");
        camera.Gain = 40;
        camera.Gamma = 160;
        Check.Equal((40, (int?)160), (camera.Gain, camera.Gamma), "gain and gamma");

        Check.HResult(CameraException.HResults.InvalidArgument, () => camera.Gain = 0x8000, "a reserved gain");
        Check.HResult(CameraException.HResults.InvalidArgument, () => camera.Exposure = range.Maximum * 10, "a long exposure");
        Check.HResult(CameraException.HResults.InvalidArgument, () => camera.Aoi = new Aoi(0, 0, limits.MaxWidth * 2, 240), "a wide AOI");
        Check.Throws<ArgumentOutOfRangeException>(() => camera.Fps = double.NaN, "NaN fps");
        Check.Throws<ArgumentOutOfRangeException>(() => camera.Fps = 32768, "the query value");
        Check.Throws<ArgumentOutOfRangeException>(() => camera.Aoi = new Aoi(0, 0, 0, 240), "an empty AOI");
        Check.Equal((aoi, 40), (camera.Aoi, camera.Gain), "kept after refusals");
        camera.Dispose();
        Check.Equal(0, camera.CloseStatus, "closed cleanly");
        Check.Throws<ObjectDisposedException>(() => _ = camera.Gain, "after dispose");
        camera.Dispose();
        return Task.CompletedTask;
    }

    private static async Task CameraFrames()
    {
        await using var camera = await IndustrialCamera.OpenAsync();
        camera.Aoi = new Aoi(0, 0, 640, 480);
        camera.Fps = camera.FpsRange.Maximum;
        camera.Start();
        var counters = new List<uint>();
        byte[] first = await camera.CaptureAsync();
        Check.Equal(640 * 480, first.Length, "a frame is the AOI's size");
        counters.Add(BinaryPrimitives.ReadUInt32LittleEndian(first));
        await foreach (var frame in camera.Frames())
        {
            counters.Add(BinaryPrimitives.ReadUInt32LittleEndian(frame));
            if (counters.Count == 5) break;
        }
        for (int k = 1; k < counters.Count; ++k) Check.True(counters[k] > counters[k - 1], $"counters {string.Join(",", counters)}");
        using var cancel = new CancellationTokenSource();
        cancel.Cancel();
        await Check.ThrowsAsync<OperationCanceledException>(() => camera.CaptureAsync(cancel.Token), "a cancelled capture");
        camera.Stop();
        int after = 0;
        await foreach (var frame in camera.Frames()) ++after;
        Check.Equal(0, after, "no frames once stopped");
    }

    private static Task CameraFinaliser()
    {
        static void OpenAndDrop() => _ = IndustrialCamera.Open();
        OpenAndDrop();
        Check.Throws<CameraException>(() => IndustrialCamera.Open(), "the camera is still open");
        GC.Collect();
        GC.WaitForPendingFinalizers();
        using var again = IndustrialCamera.Open();
        return Task.CompletedTask;
    }

    // The process's open handles, as the system lists them (Process.HandleCount is the size of
    // Wine's handle table, not the handles in it).
    private static unsafe int OpenHandles()
    {
        const int SystemHandleInformation = 16;
        uint pid = (uint)Environment.ProcessId;
        for (int size = 1 << 20; ; size *= 2)
        {
            var buffer = new byte[size];
            fixed (byte* p = buffer)
            {
                int status = NtQuerySystemInformation(SystemHandleInformation, p, size, out int _);
                if (status == unchecked((int)0xC0000004)) continue;  // STATUS_INFO_LENGTH_MISMATCH
                if (status != 0) throw new Exception($"NtQuerySystemInformation: 0x{status:X8}");
                // SYSTEM_HANDLE_INFORMATION: a count, then 24-byte entries that start with the owner's id.
                int count = *(int*)p, mine = 0;
                for (long k = 0; k < count; ++k)
                    if (*(uint*)(p + 8 + k * 24) == pid) ++mine;
                return mine;
            }
        }
    }

    [DllImport("ntdll.dll")]
    private static extern unsafe int NtQuerySystemInformation(int informationClass, byte* information, int length, out int returned);

    // The package's own growth over many cycles: a cycle's openDevice, called bare on the package's
    // fenwyr thread as often, is the baseline (what the DLL and the platform keep is not the package's).
    private static async Task Cycles()
    {
        const int Cycles = 200;
        int c = IndexOf("Dotnet Camera C");
        void Cycle()
        {
            using (var camera = IndustrialCamera.Open())
            {
                camera.Aoi = new Aoi(0, 0, 160, 120);
                _ = camera.Gain;
            }
            using (var device = VideoDevice.Open(c))
                _ = device.Formats;
        }
        (int Handles, int Threads, long Managed) Measure()
        {
            GC.Collect();
            GC.WaitForPendingFinalizers();
            GC.Collect();
            using var self = Process.GetCurrentProcess();
            return (OpenHandles(), self.Threads.Count, GC.GetTotalMemory(true));
        }
        for (int k = 0; k < 20; ++k) Cycle();
        var bare = Measure();
        // Under Wine every filter graph made and released keeps one handle (its quartz does so
        // without fenwyr too): the package is held to what bare openDevice calls leave.
        for (int k = 0; k < Cycles; ++k) VideoDevices.Thread.Invoke(() => CameraLibraries.Interop.Fenwyr.OpenDevice(c));
        var before = Measure();
        for (int k = 0; k < Cycles; ++k) Cycle();
        var after = Measure();
        int native = before.Handles - bare.Handles, package = after.Handles - before.Handles;
        Console.WriteLine($"# {Cycles} cycles: handles {before.Handles} -> {after.Handles} (bare openDevice: +{native}), " +
            $"threads {before.Threads} -> {after.Threads}, managed bytes {before.Managed} -> {after.Managed}");
        Check.True(before.Handles > 0, "handles are counted");
        Check.True(package - native < 20, $"handles grew by {package}, bare openDevice by {native}");
        Check.True(after.Threads - before.Threads < 3, $"threads grew from {before.Threads} to {after.Threads}");
        Check.True(after.Managed - before.Managed < 1L << 20, $"managed memory grew from {before.Managed} to {after.Managed}");
        await Task.CompletedTask;
    }

    private static async Task ReadmeExamples()
    {
        string source = Environment.GetEnvironmentVariable("CAMERA_LIBRARIES_SOURCE")
            ?? throw new Exception("CAMERA_LIBRARIES_SOURCE names the source tree");
        string readme = File.ReadAllText(Path.Combine(source, "README.md"));
        string examples = File.ReadAllText(Path.Combine(source, "tests", "dotnet", "Examples.cs"));
        static string Lines(string text) =>
            string.Join("\n", text.Replace("\r", "").Split('\n').Select(l => l.Trim()).Where(l => l.Length > 0));
        foreach (var library in new[] { "fenwyr", "tarvik" })
        {
            string begin = $"// README {library} begin", end = $"// README {library} end";
            int from = examples.IndexOf(begin) + begin.Length;
            string code = Lines(examples.Substring(from, examples.IndexOf(end) - from));
            Check.True(Lines(readme).Contains(code), $"the README's {library} example is Examples.cs's");
        }
        // Device 0 is the first of this test's devices; the examples print what they did.
        Check.Equal("Dotnet Camera A", VideoDevices.List()[0].Name, "device 0");
        await Examples.Fenwyr();
        await Examples.Tarvik();
    }
}
